# Helpers shared by every folder's CMakeLists.txt.

# pl_glob_sources(<out-var> <folder>... [EXCLUDE <regex>...])
# Lists the C++ sources and headers below the folders (recursively).
function(pl_glob_sources out)
    cmake_parse_arguments(ARG "" "" "EXCLUDE" ${ARGN})
    set(result)
    foreach(dir ${ARG_UNPARSED_ARGUMENTS})
        file(GLOB_RECURSE found CONFIGURE_DEPENDS
            ${dir}/*.cpp ${dir}/*.h ${dir}/*.c ${dir}/*.qrc)
        list(APPEND result ${found})
    endforeach()
    foreach(pattern ${ARG_EXCLUDE})
        list(FILTER result EXCLUDE REGEX "${pattern}")
    endforeach()
    list(SORT result)
    set(${out} ${result} PARENT_SCOPE)
endfunction()

# pl_add_qtest(<name> SOURCES <file>... [LIBS <target>...] [LABELS <label>...] [TIMEOUT <s>])
# One Qt Test executable registered with CTest. Tests run offscreen unless labelled x11
# (those are run under xvfb-run by scripts/test).
function(pl_add_qtest name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE testsupport Qt5::Test ${ARG_LIBS})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    add_test(NAME ${name} COMMAND ${name})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    set(env "PL_TEST_SOURCE_DIR=${CMAKE_SOURCE_DIR}" "PL_BIN_DIR=${CMAKE_BINARY_DIR}/bin")
    if(NOT "x11" IN_LIST ARG_LABELS)
        list(APPEND env "QT_QPA_PLATFORM=offscreen")
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} ENVIRONMENT "${env}"
        ENVIRONMENT_MODIFICATION "QT_LOGGING_RULES=unset:;XDG_CONFIG_HOME=unset:;XDG_DATA_HOME=unset:;XDG_CACHE_HOME=unset:")
    if(ARG_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
    endif()
endfunction()

# pl_add_bench(<name> SOURCES <file>... [LIBS <target>...])
# A benchmark executable under bench/; built with everything, never run by CTest.
function(pl_add_bench name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE testsupport ${ARG_LIBS})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()
