# Runs qtr_author twice into one --out-dir, first with a larger patch, then
# with a smaller one, and checks that the folder then holds exactly the
# second patch's documents and payloads: nothing of the first run is left.
set(dir ${WORK}/out_dir)
file(REMOVE_RECURSE ${dir})
foreach(new ${NEW_LARGE} ${NEW_SMALL})
  execute_process(COMMAND ${TOOL} --old ${OLD} --new ${new} --from 1.00 --to 1.01 --fast --quiet
                    --stub ${STUB} --out ${WORK}/out_dir.exe --out-dir ${dir}
                  RESULT_VARIABLE code ERROR_VARIABLE err)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "qtr_author failed: ${err}")
  endif()
endforeach()
file(GLOB left RELATIVE ${dir} ${dir}/*)
list(SORT left)
execute_process(COMMAND ${TOOL} inspect ${WORK}/out_dir.exe OUTPUT_VARIABLE inspected)
string(REGEX MATCH "([0-9]+) resources, " count "${inspected}")
list(LENGTH left files)
if(NOT files EQUAL CMAKE_MATCH_1)
  message(FATAL_ERROR "the folder holds ${files} files (${left}), the patch ${CMAKE_MATCH_1} resources")
endif()
