# auf_add_plugin(NAME CORE_TARGET SOURCES... DESCRIPTION TEXT): the loadable plug-in. Exports
# GetFilterTable only; on 32-bit Windows it is a DLL named NAME.auf (NAME.dll on 64-bit Windows) with the
# runtime linked in statically and a version resource describing it as TEXT.
function(auf_add_plugin name core)
  cmake_parse_arguments(P "" "DESCRIPTION" "" ${ARGN})
  add_library(${name} MODULE ${P_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${core})
  set_target_properties(${name} PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  if(WIN32)
    set(suffix .dll)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      set(suffix .auf)
    endif()
    set_target_properties(${name} PROPERTIES SUFFIX ${suffix})
    auf_add_version_resource(${name} "${P_DESCRIPTION}" ${name}${suffix})
    target_link_options(${name} PRIVATE -static -static-libgcc -static-libstdc++ -Wl,--kill-at
                        ${CMAKE_SOURCE_DIR}/cmake/plugin.def)
  else()
    target_link_options(${name} PRIVATE -Wl,--version-script=${CMAKE_SOURCE_DIR}/cmake/plugin.map
                        -Wl,--no-undefined)
  endif()
endfunction()
