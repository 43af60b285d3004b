# SPDX-License-Identifier: Apache-2.0
# pto2rig as a user runs it: a dual-fisheye project becomes a rig file with two crop windows;
# a project it cannot read fails with a message and writes nothing.
set(out "${WORK}/dual.json")
file(REMOVE "${out}" "${WORK}/bad.json")
execute_process(COMMAND "${PTO2RIG}" "${DATA}/dual.pto" "${out}" --convergence 3
                RESULT_VARIABLE rc OUTPUT_VARIABLE stdout ERROR_VARIABLE stderr)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "pto2rig failed (${rc}): ${stderr}")
endif()
if(NOT stdout MATCHES "cam2: line 5, 'dual.jpg', 1000 x 1000 from \\(1000, 0\\) of its 2000 x 1000")
    message(FATAL_ERROR "unexpected report: ${stdout}")
endif()
file(READ "${out}" rig)
string(JSON window GET "${rig}" cameras 1 crop_window x)
string(JSON convergence GET "${rig}" convergence)
if(NOT window EQUAL 1000 OR NOT convergence EQUAL 3)
    message(FATAL_ERROR "unexpected rig: ${rig}")
endif()

file(WRITE "${WORK}/bad.pto" "p f2 w360 h180 v360\ni w100 h100 f1 v90\n")
execute_process(COMMAND "${PTO2RIG}" "${WORK}/bad.pto" "${WORK}/bad.json"
                RESULT_VARIABLE rc ERROR_VARIABLE stderr)
if(rc EQUAL 0 OR NOT stderr MATCHES "bad.pto:2: projection f1 \\(cylindrical\\) is not supported"
   OR EXISTS "${WORK}/bad.json")
    message(FATAL_ERROR "an unsupported projection was not refused: ${rc} ${stderr}")
endif()
