cmake_minimum_required(VERSION 3.25)
# Fails when an executable imports a DLL outside the system set: a static
# link that silently picked an import library would need zlib or libgcrypt DLLs.
set(allowed
  kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ole32.dll oleaut32.dll
  comctl32.dll comdlg32.dll msvcrt.dll ws2_32.dll bcrypt.dll uuid.dll shlwapi.dll
  version.dll imm32.dll)
# DIRECTORY adds every program and library in a folder (an unpacked release).
if(DEFINED DIRECTORY)
  file(GLOB unpacked ${DIRECTORY}/*.exe ${DIRECTORY}/*.dll)
  if(NOT unpacked)
    message(FATAL_ERROR "no .exe or .dll in ${DIRECTORY}")
  endif()
  list(APPEND EXECUTABLES ${unpacked})
endif()
foreach(exe IN LISTS EXECUTABLES)
  execute_process(COMMAND ${OBJDUMP} -p ${exe} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${exe}")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\n]+" names "${dump}")
  if(NOT names)
    message(FATAL_ERROR "${exe}: no import table found")
  endif()
  foreach(line IN LISTS names)
    string(REPLACE "DLL Name: " "" dll "${line}")
    string(STRIP "${dll}" dll)
    string(TOLOWER "${dll}" dll)
    if(NOT dll IN_LIST allowed)
      message(FATAL_ERROR "${exe} imports ${dll}, which is not a system DLL")
    endif()
  endforeach()
  message(STATUS "${exe}: ${names}")
endforeach()
