# Runs the generator and compares its output with the committed logo byte for byte.
execute_process(COMMAND ${GENERATOR} ${OUTPUT} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "logogen failed: ${result}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUTPUT} ${COMMITTED}
                RESULT_VARIABLE differs)
if(differs)
    message(FATAL_ERROR "data/kvxlogo.bmp is not what logogen draws: run logogen data/kvxlogo.bmp")
endif()
