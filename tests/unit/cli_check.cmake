# Runs qtr_author with ARGS (a ;-list) and checks that it ends with exit code
# EXIT and that its output matches EXPECT: for a refusal (EXIT not 0) its
# error output (or, for a check that failed, its report), and that it left
# neither OUT nor a partial OUT behind; for a patch made (EXIT 0) what it
# printed.
separate_arguments(args UNIX_COMMAND "${ARGS}")
file(REMOVE "${OUT}" "${OUT}.partial")
execute_process(COMMAND ${TOOL} ${args} RESULT_VARIABLE code ERROR_VARIABLE err OUTPUT_VARIABLE out)
if(NOT code EQUAL EXIT)
  message(FATAL_ERROR "exit code ${code}, expected ${EXIT}\n${err}")
endif()
if(EXIT EQUAL 0)
  if(NOT out MATCHES "${EXPECT}")
    message(FATAL_ERROR "output does not match '${EXPECT}':\n${out}")
  endif()
  return()
endif()
if(NOT "${err}${out}" MATCHES "${EXPECT}")
  message(FATAL_ERROR "error output does not match '${EXPECT}':\n${err}")
endif()
if(EXISTS "${OUT}" OR EXISTS "${OUT}.partial")
  message(FATAL_ERROR "${OUT} was written although the tool failed")
endif()
