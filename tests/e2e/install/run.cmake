# SPDX-License-Identifier: Apache-2.0
# Installs the build into a scratch prefix, moves the installed tree elsewhere, and checks that
# the moved vireo still finds its libraries and the plug-in: it describes the node's class and
# renders the read/write script (whose outputs must equal their references). A run path into
# the build folder, or a plug-in outside bin/../plugins, fails here.
include(${CMAKE_CURRENT_LIST_DIR}/../common.cmake)

e2e_run(${WORK} out ${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}/installed)
file(RENAME ${WORK}/installed ${WORK}/moved)
set(vireo ${WORK}/moved/bin/vireo)

# Nothing may point into the build folder: run with no plug-in path set.
set(ENV{VIREO_PLUGIN_PATH} "")
e2e_run(${WORK} described ${vireo} --describe V_DizuvaRuvi)
if(NOT described MATCHES "V_DizuvaRuvi")
    message(FATAL_ERROR "the moved vireo does not describe the node:\n${described}")
endif()
e2e_run(${READ_WRITE} out ${vireo} script.vireo --render Write1 --frames 1-1
        --set "Write1.file=${WORK}/out_%V.####.ppm")
e2e_same_files(${WORK}/out_cam1.0001.ppm ${READ_WRITE}/expected_cam1.0001.ppm
               "the moved vireo renders cam1 differently")
