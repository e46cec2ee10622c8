# Debian's build flags (dpkg-buildflags, every hardening feature): fortified functions,
# the stack protector, read-only relocations bound at start, format checks. The programs
# the package holds are built as a Debian package build would build them; the sanitizer
# and fuzzer builds leave them out (fortified functions go around the sanitizers).
find_program(VERTAL_DPKG_BUILDFLAGS dpkg-buildflags NO_CACHE)
if(NOT VERTAL_DPKG_BUILDFLAGS)
    message(WARNING "dpkg-buildflags (dpkg-dev) not found: built without Debian's build flags")
    return()
endif()

function(vertal_debian_flags variable out)
    # The prefix map that dpkg-buildflags adds is taken from its working folder.
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                ${VERTAL_DPKG_BUILDFLAGS} --get ${variable}
        WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
        OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(flags UNIX_COMMAND "${flags}")
    # The build type chooses the optimisation and the debug information.
    list(FILTER flags EXCLUDE REGEX "^-(g|O[0-9s]?)$")
    set(${out} ${flags} PARENT_SCOPE)
endfunction()

vertal_debian_flags(CPPFLAGS cppflags)
vertal_debian_flags(CXXFLAGS cxxflags)
vertal_debian_flags(LDFLAGS ldflags)
add_compile_options(${cppflags} ${cxxflags})
add_link_options(${ldflags})
list(JOIN cppflags " " _cpp)
list(JOIN cxxflags " " _cxx)
list(JOIN ldflags " " _ld)
message(STATUS "Debian build flags: ${_cpp} ${_cxx} ${_ld}")
