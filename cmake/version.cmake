# The one version number is project(VERSION) in the top CMakeLists.txt. Code reads it from the generated
# header auf_version.h (target auf_version); Windows binaries carry it in a version resource.
set(AUF_PRODUCT_NAME "velour and deblock")
set(AUF_AUTHORS "the velour and deblock authors")
set(AUF_COPYRIGHT "Copyright (c) 2026 ${AUF_AUTHORS}. MIT License.")

configure_file(${CMAKE_CURRENT_LIST_DIR}/version.h.in ${PROJECT_BINARY_DIR}/generated/auf_version.h @ONLY)
add_library(auf_version INTERFACE)
target_include_directories(auf_version INTERFACE ${PROJECT_BINARY_DIR}/generated)

# auf_add_version_resource(TARGET DESCRIPTION ORIGINAL_FILENAME): on Windows, links a VERSIONINFO
# resource into TARGET (a DLL or an .exe) with the project's version, DESCRIPTION as the file
# description and ORIGINAL_FILENAME as the file's released name. Elsewhere it does nothing.
function(auf_add_version_resource target description original_filename)
  if(NOT WIN32)
    return()
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(AUF_RC_FILETYPE 0x1)  # VFT_APP
  else()
    set(AUF_RC_FILETYPE 0x2)  # VFT_DLL
  endif()
  set(AUF_RC_DESCRIPTION "${description}")
  set(AUF_RC_ORIGINAL_FILENAME "${original_filename}")
  get_filename_component(AUF_RC_INTERNAL_NAME "${original_filename}" NAME_WE)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
