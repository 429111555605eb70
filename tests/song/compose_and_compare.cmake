# Runs the composer on the score and compares what it writes with the committed song, byte for byte.
execute_process(COMMAND ${COMPOSER} ${SCORE} ${OUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "brom-compose failed (${status})")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT} ${EXPECTED} RESULT_VARIABLE differs)
if(NOT differs EQUAL 0)
  message(FATAL_ERROR "${EXPECTED} is not what the score composes: run `cmake --build build --target song` and commit it")
endif()
