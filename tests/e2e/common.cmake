# SPDX-License-Identifier: Apache-2.0
# What the end-to-end scripts share. Each gets vireo, make_rig and a fresh scratch folder as
# -DVIREO, -DMAKE_RIG and -DWORK (add_e2e_test in tests/CMakeLists.txt), and the tools it uses.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(FOOTAGE_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/footage.vireo)

# e2e_run(<folder> <output variable> <command> [args...]): runs the command in <folder> and
# stores its standard output; a failing command fails the test with everything it printed.
function(e2e_run folder out)
    execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${folder} RESULT_VARIABLE status
                    OUTPUT_VARIABLE stdout ERROR_VARIABLE stderr)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${ARGN} exited with ${status}:\n${stdout}\n${stderr}")
    endif()
    set(${out} "${stdout}" PARENT_SCOPE)
endfunction()

# e2e_same_files(<a> <b> <message>): fails the test with <message> unless the two files are
# equal byte for byte.
function(e2e_same_files a b message)
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${a} ${b} RESULT_VARIABLE differ)
    if(NOT differ EQUAL 0)
        message(FATAL_ERROR "${message}")
    endif()
endfunction()
