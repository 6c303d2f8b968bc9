# Writes RC: the resource script of the fault harness, which carries the
# patcher's common resources and, as "DATA" resources under language 1033,
# every document (ID.xml) and payload (ID.bin) the authoring tool wrote to
# DIR: the same resources as the patch executable it made.
#   cmake -DDIR=... -DRC=... -P data_rc.cmake
file(GLOB resources RELATIVE ${DIR} ${DIR}/*.xml ${DIR}/*.bin)
list(SORT resources)
set(content "#include \"patcher.rc\"\nLANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US\n")
foreach(name ${resources})
  string(REGEX REPLACE "\\..*$" "" id "${name}")
  string(APPEND content "${id} DATA \"${DIR}/${name}\"\n")
endforeach()
if(NOT resources)
  message(FATAL_ERROR "no resources in ${DIR}")
endif()
file(WRITE ${RC} "${content}")
