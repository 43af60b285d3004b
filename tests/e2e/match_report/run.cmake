# SPDX-License-Identifier: Apache-2.0
# Match one key of generated footage through vireo and report it with scripts/match_report.py:
# every neighbouring camera pair of the 4-camera ring has matches, and the node's match error
# is printed.
include(${CMAKE_CURRENT_LIST_DIR}/../common.cmake)
e2e_run(${WORK} ignored ${MAKE_RIG} --out footage --cameras 4 --size 320x240 --frames 1 --ext png
        --no-truth)
e2e_run(${WORK} out ${VIREO} ${FOOTAGE_SCRIPT} -t ${SCRIPT} DizuvaRuvi1 1 --match)
foreach(pair "cam1   cam2" "cam2   cam3" "cam3   cam4" "cam1   cam4")
    if(NOT out MATCHES "${pair} +[1-9][0-9]+ ")
        message(FATAL_ERROR "no matches reported for ${pair}:\n${out}")
    endif()
endforeach()
if(NOT out MATCHES "match error of the node: 0\\.[0-9]+")
    message(FATAL_ERROR "no match error reported:\n${out}")
endif()
