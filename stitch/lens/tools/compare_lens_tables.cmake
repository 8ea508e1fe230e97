# Regenerates the lens tables into OUTPUT and fails when they differ from COMMITTED.
execute_process(COMMAND ${PYTHON} ${GENERATOR} OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${GENERATOR} failed: ${status}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUTPUT} ${COMMITTED} RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
  message(FATAL_ERROR "${COMMITTED} is not what ${GENERATOR} prints; regenerate it "
                      "(python3 ${GENERATOR} > ${COMMITTED})")
endif()
