# qtr_author.exe under Wine: makes the demo patch from DIR/trees into STUB,
# which must equal the native tool's DIR/native.exe byte for byte, then
# verifies it, and a copy signed with osslsigncode (certificate CERT, key
# KEY), against both editions' old and new trees (exit code 0), and inspects
# the signed copy. Wine takes Unix paths through its drive Z:.
set(t Z:${DIR}/trees)
execute_process(COMMAND ${EMULATOR} ${TOOL} --quiet
    --old ${t}/censored/1.00 --new ${t}/censored/1.01 --name censored
    --old ${t}/uncensored/1.00 --new ${t}/uncensored/1.01 --name uncensored
    --key-file qtr.exe --from 1.00 --to 1.01 --stub Z:${STUB} --out Z:${DIR}/windows.exe
  RESULT_VARIABLE code ERROR_VARIABLE err)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "qtr_author.exe failed (${code}): ${err}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${DIR}/native.exe ${DIR}/windows.exe RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
  message(FATAL_ERROR "the Windows tool's demo patch differs from the native tool's")
endif()
file(REMOVE ${DIR}/signed.exe)
execute_process(COMMAND osslsigncode sign -certs ${CERT} -key ${KEY} -n Quarrytide -in ${DIR}/windows.exe
    -out ${DIR}/signed.exe RESULT_VARIABLE code ERROR_VARIABLE err)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "signing failed: ${err}")
endif()
foreach(patch windows signed)
  execute_process(COMMAND ${EMULATOR} ${TOOL} verify Z:${DIR}/${patch}.exe
      --old ${t}/censored/1.00 --new ${t}/censored/1.01 --old ${t}/uncensored/1.00 --new ${t}/uncensored/1.01
    RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT code EQUAL 0 OR NOT out MATCHES "verify: every edition passed")
    message(FATAL_ERROR "qtr_author.exe verify of ${patch}.exe failed (${code}):\n${out}\n${err}")
  endif()
  message(STATUS "${patch}.exe: ${out}")
endforeach()
execute_process(COMMAND ${EMULATOR} ${TOOL} inspect Z:${DIR}/signed.exe --json
  RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT code EQUAL 0 OR NOT out MATCHES "\"filename\": \"qtr.exe\"")
  message(FATAL_ERROR "qtr_author.exe inspect of the signed patch failed (${code}):\n${out}\n${err}")
endif()
