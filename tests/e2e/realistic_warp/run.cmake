# SPDX-License-Identifier: Apache-2.0
# The warp on footage as a real rig gives it (calibration off by 2 degrees, exposure, white
# balance, vignetting, sensor noise): see realistic_test.py.
include(${CMAKE_CURRENT_LIST_DIR}/../common.cmake)
e2e_run(${WORK} out ${MAKE_RIG} --out footage --cameras 4 --size 320x240 --frames 1
        --pano-size 1024x512 --points 400 --realistic)
# The answers: Refine Rig keeps the warp solved on the rig as recorded (and the rig), then
# drops it with the refinement, and Match again replaces the first pass's matches.
e2e_run(${WORK} out ${VIREO} --no --yes --yes ${FOOTAGE_SCRIPT}
        --set "Read1.file=footage/%V.####.exr" --set Read1.last=1
        -t ${CMAKE_CURRENT_LIST_DIR}/realistic_test.py ${WARP_QUALITY})
message(STATUS "${out}")
