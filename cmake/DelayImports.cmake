# Delay-load import libraries for the Windows builds. A function imported
# through one loads its DLL at its first call instead of at start-up.
# libgcrypt's random poller (USER32) and libgpg-error's sockets (WS2_32) are
# never called by these programs, and bcrypt only when salts are drawn, yet a
# DLL loaded at start-up costs every run: under Wine, USER32 alone adds about
# 50 ms to each start of korvane-cli, and bcrypt 20 ms.

# The functions a static library defines (DEFINED) or imports from a DLL
# (IMPORTED), as a .def file names them: undecorated for 64-bit, name@bytes
# for 32-bit stdcall.
function(korvane_import_names library kind out)
  if(kind STREQUAL DEFINED)
    set(flags -g --defined-only)
    set(type I)
  else()
    set(flags -u)
    set(type U)
  endif()
  execute_process(COMMAND ${CMAKE_NM} ${flags} ${library} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${CMAKE_NM} could not read ${library}")
  endif()
  # 32-bit C names carry a leading underscore.
  set(prefix __imp_)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(prefix __imp__)
  endif()
  string(REGEX MATCHALL " ${type} ${prefix}[^\n]+" entries "${symbols}")
  list(TRANSFORM entries REPLACE "^ ${type} ${prefix}" "")
  list(REMOVE_DUPLICATES entries)
  set(${out} ${entries} PARENT_SCOPE)
endfunction()

# korvane_delay_import(OUT DLL USERS library... | NAMES function...): writes a
# delay-load import library for DLL, sets OUT to its path and OUT_KEEP to the
# link options the programs that use it need. USERS covers only the functions
# those static libraries import, so the DLL's other functions keep their
# ordinary imports in programs that call them; NAMES covers the functions
# named, undecorated.
#
# Each function's load stub sits in a member's .text, which is also where an
# ordinary import library keeps its jump stub; the 32-bit linker discards that
# section when nothing names the stub, as code that calls through __imp_ never
# does, and the slot the first call jumps through is then left 0. OUT_KEEP
# names every stub (-u), so each one is linked.
function(korvane_delay_import out dll)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "USERS;NAMES")
  find_library(korvane_${dll}_import NAMES lib${dll}.a REQUIRED)
  korvane_import_names(${korvane_${dll}_import} DEFINED names)
  set(wanted ${arg_NAMES})
  foreach(user IN LISTS arg_USERS)
    korvane_import_names(${user} IMPORTED imported)
    list(APPEND wanted ${imported})
  endforeach()
  set(kept)
  foreach(name IN LISTS names)
    string(REGEX REPLACE "@[0-9]+$" "" plain ${name})
    if(name IN_LIST wanted OR plain IN_LIST arg_NAMES)
      list(APPEND kept ${name})
    endif()
  endforeach()
  set(names ${kept})
  if(NOT names)
    message(FATAL_ERROR "no ${dll} functions to delay-load")
  endif()
  list(SORT names)
  string(REPLACE ";" "\n" lines "${names}")
  set(dir ${CMAKE_BINARY_DIR}/delay-imports)
  file(MAKE_DIRECTORY ${dir})
  file(WRITE ${dir}/${dll}.def "LIBRARY ${dll}.dll\nEXPORTS\n${lines}\n")
  set(kill_at)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(kill_at --kill-at)
  endif()
  # Relative names keep the build folder's path out of the objects.
  execute_process(COMMAND ${CMAKE_DLLTOOL} ${kill_at} --input-def ${dll}.def --dllname ${dll}.dll
                          --output-delaylib lib${dll}-delay.a
                  WORKING_DIRECTORY ${dir} RESULT_VARIABLE rc ERROR_VARIABLE error)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${CMAKE_DLLTOOL} failed for ${dll}: ${error}")
  endif()
  # 32-bit C names carry a leading underscore.
  set(prefix)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(prefix _)
  endif()
  list(TRANSFORM names PREPEND "LINKER:-u,${prefix}" OUTPUT_VARIABLE keep)
  set(${out} ${dir}/lib${dll}-delay.a PARENT_SCOPE)
  set(${out}_KEEP ${keep} PARENT_SCOPE)
endfunction()
