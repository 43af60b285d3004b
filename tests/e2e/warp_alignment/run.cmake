# SPDX-License-Identifier: Apache-2.0
# The warp end to end as the panorama shows it, scored against make_rig's true panorama.
include(${CMAKE_CURRENT_LIST_DIR}/../common.cmake)
# Frame 1 only: the Read's range ends at 2 so that Key All keys frame 1, the only frame read.
e2e_run(${WORK} out ${MAKE_RIG} --out footage --cameras 4 --size 320x240 --frames 1
        --pano-size 1024x512 --points 100)
e2e_run(${WORK} out ${VIREO} ${FOOTAGE_SCRIPT} --set "Read1.file=footage/%V.####.exr"
        --set Read1.last=2 -t ${CMAKE_CURRENT_LIST_DIR}/alignment_test.py ${PANO_QUALITY})
message(STATUS "${out}")
