# SPDX-License-Identifier: Apache-2.0
# The analysis buttons through vireo and Python on a small generated rig.
# Arguments: -DVIREO=<vireo> -DMAKE_RIG=<make_rig> -DWORK=<scratch folder>.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${MAKE_RIG} --out footage --cameras 4 --size 320x240 --frames 4
                        --ext png --no-truth
                WORKING_DIRECTORY ${WORK} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "make_rig exited with ${status}")
endif()
execute_process(COMMAND ${VIREO} ${CMAKE_CURRENT_LIST_DIR}/script.vireo
                        -t ${CMAKE_CURRENT_LIST_DIR}/analysis_test.py
                WORKING_DIRECTORY ${WORK} RESULT_VARIABLE status OUTPUT_VARIABLE out
                ERROR_VARIABLE err)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "the analysis script exited with ${status}:\n${out}\n${err}")
endif()
message(STATUS "${out}")
