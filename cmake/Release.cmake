# The release zip and MSI. tools/package builds the release_zip and
# release_msi targets of a Release build; the tests pack this build's files
# with the same zip command.
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

# The MSI is made from the zip. Its registry and shortcut tables come from
# korvane-registry-table, which prints install's own lists: built for the
# build machine in a sub-build, only when a package is made.
include(ExternalProject)
set(registry_table_build ${PROJECT_BINARY_DIR}/registry-table)
set(KORVANE_REGISTRY_TABLE ${registry_table_build}/build/korvane-registry-table)
ExternalProject_Add(registry_table
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  PREFIX ${registry_table_build}
  BINARY_DIR ${registry_table_build}/build
  CMAKE_ARGS
    -DKORVANE_REGISTRY_TABLE_ONLY=ON
    -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_C_COMPILER=gcc
    -DCMAKE_CXX_COMPILER=g++
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  EXCLUDE_FROM_ALL ON
  BUILD_BYPRODUCTS ${KORVANE_REGISTRY_TABLE})

set(KORVANE_RELEASE_ZIP
  ${KORVANE_DIST_DIR}/korvane-file-${PROJECT_VERSION}-windows-${KORVANE_RELEASE_ARCH}.zip)
add_custom_target(release_msi
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/pack-msi
    --version ${PROJECT_VERSION}
    --arch ${KORVANE_RELEASE_ARCH}
    --zip ${KORVANE_RELEASE_ZIP}
    --registry-table ${KORVANE_REGISTRY_TABLE}
    --icons $<TARGET_FILE:korvane_icons>
    --custom-actions $<TARGET_FILE:korvane_msi_actions>
    --source ${PROJECT_SOURCE_DIR}
    --out ${KORVANE_DIST_DIR}
  COMMENT "Packing korvane-file-${PROJECT_VERSION}-windows-${KORVANE_RELEASE_ARCH}.msi"
  VERBATIM)
add_dependencies(release_msi release_zip registry_table korvane_icons korvane_msi_actions)
