# SPDX-License-Identifier: Apache-2.0
# Warnings, sanitizers and the test/benchmark helpers shared by every target.

add_compile_options(-Wall -Wextra -Wpedantic -Wno-unused-parameter)
if(WARNINGS_AS_ERRORS)
    add_compile_options(-Werror)
endif()

if(SANITIZE)
    add_compile_options(-fsanitize=${SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=${SANITIZE})
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
