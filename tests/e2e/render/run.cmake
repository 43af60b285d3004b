# SPDX-License-Identifier: Apache-2.0
# Rendering through vireo on a small generated rig: warped and unwarped camera views and the
# panorama, with grids set by hand.
include(${CMAKE_CURRENT_LIST_DIR}/../common.cmake)
e2e_run(${WORK} out ${MAKE_RIG} --out footage --cameras 4 --size 160x120 --frames 2 --ext png
        --no-truth)
e2e_run(${WORK} out ${VIREO} ${FOOTAGE_SCRIPT} --set Read1.last=2
        -t ${CMAKE_CURRENT_LIST_DIR}/render_test.py)
message(STATUS "${out}")
