# Renders the manual page as plain UTF-8 text, without the overstrikes and
# escape sequences of a terminal. Variables: GROFF, PAGE, OUTPUT.
execute_process(COMMAND "${GROFF}" -man -Tutf8 -P-cbou -rHY=0 "${PAGE}"
                OUTPUT_FILE "${OUTPUT}" RESULT_VARIABLE status ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT err STREQUAL "")
  file(REMOVE "${OUTPUT}")
  message(FATAL_ERROR "groff failed on ${PAGE}: ${err}")
endif()
