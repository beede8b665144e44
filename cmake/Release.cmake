# The release zip. tools/package builds the release_zip target of a Release
# build; the tests pack this build's files with the same command.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# The compiler's runtime pieces that a -static link pulls in, for the notices.
set(korvane_linked_libraries ${ZLIB_STATIC} ${GCRYPT_STATIC} ${GPGERROR_STATIC})
foreach(name libstdc++.a libgcc.a libgcc_eh.a libwinpthread.a libmingwex.a libmingw32.a)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${name}
    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
  # Without the file the compiler prints the bare name back.
  if(NOT rc EQUAL 0 OR NOT IS_ABSOLUTE "${path}")
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not find ${name}")
  endif()
  file(REAL_PATH ${path} path)
  list(APPEND korvane_linked_libraries ${path})
endforeach()

set(KORVANE_PACK_COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/pack-zip
  --version ${PROJECT_VERSION}
  --app-dir $<TARGET_FILE_DIR:korvane>
  --cli $<TARGET_FILE:korvane-cli>
  --source ${PROJECT_SOURCE_DIR})
foreach(library IN LISTS korvane_linked_libraries)
  list(APPEND KORVANE_PACK_COMMAND --library ${library})
endforeach()

set(KORVANE_DIST_DIR ${PROJECT_BINARY_DIR}/dist CACHE PATH "Where release_zip writes the zip")
add_custom_target(release_zip
  COMMAND ${KORVANE_PACK_COMMAND} --out ${KORVANE_DIST_DIR}
  COMMENT "Packing korvane-file-${PROJECT_VERSION}-windows.zip"
  VERBATIM)
add_dependencies(release_zip korvane korvane-cli kvnmenu)
if(TARGET kvnmenu64)
  add_dependencies(release_zip kvnmenu64)
endif()
