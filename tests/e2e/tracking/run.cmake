# SPDX-License-Identifier: Apache-2.0
# The Track button through vireo and Python on a small generated rig with make_rig's moving
# target.
include(${CMAKE_CURRENT_LIST_DIR}/../common.cmake)
e2e_run(${WORK} out ${MAKE_RIG} --out footage --size 320x240 --frames 5 --ext png --no-truth
        --target)
e2e_run(${WORK} out ${VIREO} ${FOOTAGE_SCRIPT} --set Read1.last=5
        -t ${CMAKE_CURRENT_LIST_DIR}/tracking_test.py)
message(STATUS "${out}")
