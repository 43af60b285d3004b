# SPDX-License-Identifier: Apache-2.0
# The analysis buttons through vireo and Python on a small generated rig.
# Arguments: -DVIREO=<vireo> -DMAKE_RIG=<make_rig> -DWORK=<scratch folder>.
include(${CMAKE_CURRENT_LIST_DIR}/../common.cmake)
e2e_run(${WORK} out ${MAKE_RIG} --out footage --cameras 4 --size 320x240 --frames 4 --ext png
        --no-truth)
e2e_run(${WORK} out ${VIREO} ${CMAKE_CURRENT_LIST_DIR}/script.vireo
        -t ${CMAKE_CURRENT_LIST_DIR}/analysis_test.py)
message(STATUS "${out}")
