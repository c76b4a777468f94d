# Runs kelvara_pictures for one palette and scale into an empty folder of its own.
file(REMOVE_RECURSE "${FOLDER}")
execute_process(COMMAND "${PROGRAM}" "${FOLDER}" "${PALETTE}" "${SCALE}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "kelvara_pictures ${PALETTE} ${SCALE} failed: ${result}")
endif()
