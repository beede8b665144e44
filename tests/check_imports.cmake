cmake_minimum_required(VERSION 3.25)
# Fails when an executable imports a DLL outside the system set: a static
# link that silently picked an import library would need zlib or libgcrypt DLLs.
# EXECUTABLES are read with OBJDUMP (the host's reads both widths). Each of
# COM_LIBRARIES must export the two COM entry points and
# nothing else: an extra export is code any host could call.
set(allowed
  kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ole32.dll oleaut32.dll
  comctl32.dll comdlg32.dll msvcrt.dll ws2_32.dll bcrypt.dll uuid.dll shlwapi.dll
  version.dll imm32.dll ntdll.dll)
# Each of HEADLESS, a program without windows, must not load at start-up the
# DLLs it reaches only through delay-load imports: each costs every run.
set(loaded_on_demand user32.dll bcrypt.dll ws2_32.dll)
# DIRECTORY adds every program and library in a folder (an unpacked release).
if(DEFINED DIRECTORY)
  file(GLOB unpacked ${DIRECTORY}/*.exe ${DIRECTORY}/*.dll)
  if(NOT unpacked)
    message(FATAL_ERROR "no .exe or .dll in ${DIRECTORY}")
  endif()
  list(APPEND EXECUTABLES ${unpacked})
endif()
set(com_exports DllCanUnloadNow DllGetClassObject)

function(object_dump exe out)
  execute_process(COMMAND ${OBJDUMP} -p ${exe} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${exe}")
  endif()
  set(${out} "${dump}" PARENT_SCOPE)
endfunction()

foreach(exe IN LISTS EXECUTABLES)
  object_dump(${exe} dump)
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
    if(exe IN_LIST HEADLESS AND dll IN_LIST loaded_on_demand)
      message(FATAL_ERROR "${exe} loads ${dll} at start-up")
    endif()
  endforeach()
  message(STATUS "${exe}: ${names}")
endforeach()

foreach(library IN LISTS COM_LIBRARIES)
  object_dump(${library} dump)
  # The name table lists one "[   N] Name" line per exported name.
  string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n(\t\\[ *[0-9]+\\] [^\n]+\n)*" table "${dump}")
  string(REGEX MATCHALL "\t\\[ *[0-9]+\\] [^\n]+" entries "${table}")
  set(names)
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE "^\t\\[ *[0-9]+\\] " "" entry "${entry}")
    list(APPEND names ${entry})
  endforeach()
  list(SORT names)
  if(NOT names STREQUAL com_exports)
    message(FATAL_ERROR "${library} exports '${names}', not only '${com_exports}'")
  endif()
  message(STATUS "${library} exports ${names}")
endforeach()
