# SPDX-License-Identifier: Apache-2.0
# The whole chain on generated footage: make_rig writes a small 6-camera set as PNG, vireo
# loads the node from the plug-in folder and renders camera views cam2 and cam5 through it,
# and the same views straight from the Read. An unwarped camera view in the default projection
# shows its own camera's input, so both renders must be the same file, byte for byte.
include(${CMAKE_CURRENT_LIST_DIR}/../common.cmake)
e2e_run(${WORK} out ${MAKE_RIG} --out footage --size 160x120 --frames 1 --ext png --no-truth)
e2e_run(${WORK} out ${VIREO} ${CMAKE_CURRENT_LIST_DIR}/script.vireo --render Through --frames 1)
e2e_run(${WORK} out ${VIREO} ${CMAKE_CURRENT_LIST_DIR}/script.vireo --render Direct --frames 1)
foreach(view cam2 cam5)
    e2e_same_files(${WORK}/out/node_${view}.0001.ppm ${WORK}/out/input_${view}.0001.ppm
                   "${view} through the node differs from its input (or is missing)")
endforeach()
# The two views are different cameras: a node that showed one input everywhere would fail.
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/out/node_cam2.0001.ppm
                        ${WORK}/out/node_cam5.0001.ppm RESULT_VARIABLE differ)
if(differ EQUAL 0)
    message(FATAL_ERROR "cam2 and cam5 rendered the same picture")
endif()
