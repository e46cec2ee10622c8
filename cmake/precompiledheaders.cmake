# Qt's Widgets and QTest headers are most of what a window or test source compiles. Each set
# is parsed once per build, into a header precompiled in a target of its own, and reused by
# every target that includes it (vertal_precompile_qt). GCC takes a precompiled header only
# for a compile with its flags; another compile reads the headers as they are, as before.
# QTest defines the test's build and source folders on every compile that links it, for
# QFINDTESTDATA, which no test here uses: a folder of its own in each target would make every
# target's compile unlike the precompiled header's, and every clone's unlike another's (the
# compiler cache). Both are "." for all.
set_property(TARGET Qt6::Test PROPERTY INTERFACE_COMPILE_DEFINITIONS
    QT_TESTLIB_LIB "QT_TESTCASE_BUILDDIR=\".\"" "QT_TESTCASE_SOURCEDIR=\".\"")

function(vertal_qt_pch name)
    add_library(${name} STATIC ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/precompiled.cpp)
    target_link_libraries(${name} PRIVATE ${ARGN})
    set(headers "")
    foreach(library ${ARGN})
        string(REPLACE "Qt6::" "" module ${library})
        list(APPEND headers <Qt${module}/Qt${module}>)
    endforeach()
    target_precompile_headers(${name} PRIVATE ${headers})
endfunction()
vertal_qt_pch(vertal_pch_widgets Qt6::Widgets)
vertal_qt_pch(vertal_pch_widgets_test Qt6::Widgets Qt6::Test)
vertal_qt_pch(vertal_pch_test Qt6::Core Qt6::Test)

# vertal_precompile_qt(<target> WIDGETS|WIDGETS_TEST|TEST): <target>, which links those Qt
# modules, reuses their precompiled header.
function(vertal_precompile_qt target kind)
    string(TOLOWER ${kind} kind)
    target_precompile_headers(${target} REUSE_FROM vertal_pch_${kind})
endfunction()
