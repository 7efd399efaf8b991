cmake_minimum_required(VERSION 3.20)
# Fails when the executable EXE imports a DLL that a bare Windows machine does not have:
# the program is linked statically and may depend on system DLLs only. OBJDUMP is the objdump
# of the executable's architecture. LOAD_TIME, when given, lists (comma-separated) the only DLLs that it may import
# when it is loaded: the others it must delay-import, so that a start does not pay for them.
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "objdump could not read ${EXE}")
endif()
string(REPLACE "," ";" LOAD_TIME "${LOAD_TIME}")
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
if(NOT imports)
  message(FATAL_ERROR "no imports found in ${EXE}")
endif()
set(system advapi32.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll user32.dll shell32.dll comdlg32.dll
    gdi32.dll)
foreach(line ${imports})
  string(REPLACE "DLL Name: " "" dll "${line}")
  string(STRIP "${dll}" dll)
  string(TOLOWER "${dll}" dll)
  if(NOT dll IN_LIST system)
    message(FATAL_ERROR "${EXE} imports ${dll}, which is not a Windows system DLL")
  endif()
  if(LOAD_TIME AND NOT dll IN_LIST LOAD_TIME)
    message(FATAL_ERROR "${EXE} imports ${dll} at load time: every start loads it (link its delay-import library)")
  endif()
  message(STATUS "imports ${dll}")
endforeach()
