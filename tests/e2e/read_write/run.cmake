# SPDX-License-Identifier: Apache-2.0
# Renders script.vireo (a Read of 4 x 3 PNGs, two camera views gained from rig.json, through a
# Write to PPM) with the built vireo, and compares every output with its reference byte for
# byte: 8-bit pixels must come through the read (rows flipped) and the write (flipped back)
# unchanged. Then checks that a saved script saves again to the same text.
# Runs in this folder: the script's file names are relative to the working folder.
include(${CMAKE_CURRENT_LIST_DIR}/../common.cmake)

function(run_vireo)
    e2e_run(${CMAKE_CURRENT_LIST_DIR} out ${VIREO} ${ARGN})
endfunction()

run_vireo(script.vireo --render Write1 --frames 1-2 --set "Write1.file=${WORK}/out_%V.####.ppm")
foreach(view cam1 cam2)
    foreach(frame 0001 0002)
        set(out ${WORK}/out_${view}.${frame}.ppm)
        set(expected ${CMAKE_CURRENT_LIST_DIR}/expected_${view}.${frame}.ppm)
        e2e_same_files(${out} ${expected} "${out} differs from ${expected}")
    endforeach()
endforeach()

run_vireo(script.vireo --save ${WORK}/saved.vireo)
run_vireo(${WORK}/saved.vireo --save ${WORK}/saved_again.vireo)
e2e_same_files(${WORK}/saved.vireo ${WORK}/saved_again.vireo "saving a saved script changed it")
