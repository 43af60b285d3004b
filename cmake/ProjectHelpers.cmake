# SPDX-License-Identifier: Apache-2.0
# Warnings, sanitizers and the test/benchmark helpers shared by every target.

add_compile_options(-Wall -Wextra -Wpedantic -Wno-unused-parameter)
if(WARNINGS_AS_ERRORS)
    add_compile_options(-Werror)
endif()

# A unity batch includes the .cpp files of its target, so GCC takes the fixtures they keep in
# anonymous namespaces for types of a header and warns about every test derived from one.
if(CMAKE_UNITY_BUILD AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-subobject-linkage)
endif()

if(SANITIZE)
    add_compile_options(-fsanitize=${SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=${SANITIZE})
endif()
# The fuzzers' build instruments every library for coverage, not only each harness's own
# files: the script and rig readers live in libraries, and libFuzzer without their coverage
# searches blind.
if(BUILD_FUZZERS)
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# add_project_test(<name> [WHOLE] SOURCES <files...> LIBS <targets...>)
# One GoogleTest binary per library or subsystem, registered test by test with CTest. WHOLE
# registers the binary as one CTest test instead, for suites whose shared set-up is expensive
# (each CTest test is a process of its own, which would repeat it).
function(add_project_test name)
    cmake_parse_arguments(ARG "WHOLE" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
    if(ARG_WHOLE)
        add_test(NAME ${name} COMMAND ${name})
        set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
    else()
        gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                             PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
    endif()
endfunction()

# add_project_benchmark(<name> SOURCES <files...> LIBS <targets...>)
function(add_project_benchmark name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark)
endfunction()

# compile_alone(<targets...> REGEX <regex>): in a unity build (CMAKE_UNITY_BUILD=ON, as CI
# builds), the sources of <targets> that match <regex> stay out of the batches and are compiled
# on their own, for files whose file-local names would clash with those of their batch mates.
function(compile_alone)
    cmake_parse_arguments(ARG "" "REGEX" "" ${ARGN})
    foreach(target ${ARG_UNPARSED_ARGUMENTS})
        get_target_property(sources ${target} SOURCES)
        get_target_property(dir ${target} SOURCE_DIR)
        list(FILTER sources INCLUDE REGEX "${ARG_REGEX}")
        foreach(source ${sources})
            # A relative path names a file of the target's folder, not of the caller's.
            get_filename_component(source ${source} ABSOLUTE BASE_DIR ${dir})
            set_source_files_properties(${source} TARGET_DIRECTORY ${target}
                                        PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
        endforeach()
    endforeach()
endfunction()
