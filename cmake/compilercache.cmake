# Every build goes through ccache when it is installed (scripts/install-deps.sh installs it):
# the builds of one tree (plain, sanitizers, fuzzers, Windows) and a second clone reuse what
# was compiled already. The keys are made relative to the tree (CCACHE_BASEDIR) and leave
# out the build folder (CCACHE_NOHASHDIR), so that a clone in another folder hits too; the
# prefix map of Debian's build flags names the tree's own folder, and maps it to ".", so the
# objects are alike whatever it names (CCACHE_IGNOREOPTIONS). A launcher given on the command
# line (CMAKE_CXX_COMPILER_LAUNCHER) is kept.
find_program(VERTAL_CCACHE ccache)
if(VERTAL_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
    set(VERTAL_CCACHE_LAUNCHER
        ${CMAKE_COMMAND} -E env CCACHE_BASEDIR=${CMAKE_SOURCE_DIR} CCACHE_NOHASHDIR=1
        "CCACHE_IGNOREOPTIONS=-ffile-prefix-map=*"
        "CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime"
        ${VERTAL_CCACHE})
    set(CMAKE_CXX_COMPILER_LAUNCHER ${VERTAL_CCACHE_LAUNCHER})
    set(CMAKE_C_COMPILER_LAUNCHER ${VERTAL_CCACHE_LAUNCHER})
    message(STATUS "Compiler cache: ${VERTAL_CCACHE}")
endif()
