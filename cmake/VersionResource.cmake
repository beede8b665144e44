# A VERSIONINFO resource for one shipped Windows file, filled in from
# project(VERSION): the version that Explorer's Properties page shows is the
# one the build was configured with.
#   korvane_version_resource(TARGET FILE_NAME DESCRIPTION FILE_TYPE)
# FILE_TYPE is VFT_APP or VFT_DLL.
set(KORVANE_VERSION_RC_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/../resources/version.rc.in)

function(korvane_version_resource target file_name description file_type)
  set(KORVANE_RC_FILE_NAME ${file_name})
  set(KORVANE_RC_DESCRIPTION ${description})
  set(KORVANE_RC_FILE_TYPE ${file_type})
  get_filename_component(internal_name ${file_name} NAME_WE)
  set(KORVANE_RC_INTERNAL_NAME ${internal_name})
  set(rc ${PROJECT_BINARY_DIR}/version/${file_name}.rc)
  configure_file(${KORVANE_VERSION_RC_TEMPLATE} ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
