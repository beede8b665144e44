# The release zip. tools/package builds the release_zip target of a Release
# build; the tests pack this build's files with the same command.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# The compilers' runtime pieces that a -static link pulls in, for the notices:
# this build's, and those of the other width's handler library beside it.
set(korvane_linked_libraries ${ZLIB_STATIC} ${GCRYPT_STATIC} ${GPGERROR_STATIC})
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(other_compiler i686-w64-mingw32-g++-posix)
else()
  set(other_compiler x86_64-w64-mingw32-g++-posix)
endif()
foreach(compiler ${CMAKE_CXX_COMPILER} ${other_compiler})
  foreach(name libstdc++.a libgcc.a libgcc_eh.a libwinpthread.a libmingwex.a libmingw32.a)
    execute_process(COMMAND ${compiler} -print-file-name=${name}
      OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
    # Without the file the compiler prints the bare name back.
    if(NOT rc EQUAL 0 OR NOT IS_ABSOLUTE "${path}")
      message(FATAL_ERROR "${compiler} does not find ${name}")
    endif()
    file(REAL_PATH ${path} path)
    list(APPEND korvane_linked_libraries ${path})
  endforeach()
endforeach()

# The zip is named after the width of korvane.exe: what Windows users choose by.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(KORVANE_RELEASE_ARCH x64)
else()
  set(KORVANE_RELEASE_ARCH x86)
endif()

set(KORVANE_PACK_COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/pack-zip
  --version ${PROJECT_VERSION}
  --arch ${KORVANE_RELEASE_ARCH}
  --app-dir $<TARGET_FILE_DIR:korvane>
  --cli $<TARGET_FILE:korvane-cli>
  --source ${PROJECT_SOURCE_DIR})
foreach(library IN LISTS korvane_linked_libraries)
  list(APPEND KORVANE_PACK_COMMAND --library ${library})
endforeach()

set(KORVANE_DIST_DIR ${PROJECT_BINARY_DIR}/dist CACHE PATH "Where release_zip writes the zip")
add_custom_target(release_zip
  COMMAND ${KORVANE_PACK_COMMAND} --out ${KORVANE_DIST_DIR}
  COMMENT "Packing korvane-file-${PROJECT_VERSION}-windows-${KORVANE_RELEASE_ARCH}.zip"
  VERBATIM)
add_dependencies(release_zip korvane korvane-cli kvnmenu)
