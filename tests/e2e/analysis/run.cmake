# SPDX-License-Identifier: Apache-2.0
# The analysis buttons through vireo and Python on a small generated rig.
# The warp must reduce the misalignment of the scene's points, measured by warp_quality on the
# footage's ground truth: its median and its 90th percentile both drop.
include(${CMAKE_CURRENT_LIST_DIR}/../common.cmake)
# warp_quality reads only the truth points: the truth panorama is kept small.
e2e_run(${WORK} out ${MAKE_RIG} --out footage --cameras 4 --size 320x240 --frames 3 --ext png
        --pano-size 64x32)
e2e_run(${WORK} out ${VIREO} ${FOOTAGE_SCRIPT} --set Read1.last=3
        -t ${CMAKE_CURRENT_LIST_DIR}/analysis_test.py ${WORK}/warped.vireo)
message(STATUS "${out}")

e2e_run(${WORK} quality ${WARP_QUALITY} ${WORK}/warped.vireo footage/truth)
message(STATUS "${quality}")
foreach(row unwarped warped)
    if(NOT quality MATCHES "\n *${row} +median +([0-9.]+) +90th percentile +([0-9.]+)")
        message(FATAL_ERROR "warp_quality printed no ${row} figures:\n${quality}")
    endif()
    set(${row}_median ${CMAKE_MATCH_1})
    set(${row}_p90 ${CMAKE_MATCH_2})
endforeach()
if(NOT warped_median LESS unwarped_median OR NOT warped_p90 LESS unwarped_p90)
    message(FATAL_ERROR "the warp does not reduce the misalignment:\n${quality}")
endif()
