# Fails when the executable imports a DLL that is not one of Windows'
# KnownDLLs. Windows loads every other DLL a program imports from the
# program's own folder first, before the program runs any code, and the
# patcher runs with administrator rights from a download folder: COMCTL32 and
# WINMM are loaded from System32 at run time instead.
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cannot read ${EXE}")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" names "${dump}")
set(system kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll shlwapi.dll msvcrt.dll ole32.dll
    oleaut32.dll comdlg32.dll imm32.dll rpcrt4.dll ws2_32.dll)
foreach(line ${names})
  string(REGEX REPLACE "DLL Name: " "" dll "${line}")
  string(TOLOWER "${dll}" dll)
  string(STRIP "${dll}" dll)
  list(FIND system "${dll}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "${EXE} imports ${dll}, which is not one of Windows' KnownDLLs")
  endif()
  message(STATUS "imports ${dll}")
endforeach()
