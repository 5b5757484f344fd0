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

# auf_add_auf2(NAME CORE_TARGET SOURCES... DESCRIPTION TEXT): the 64-bit successor editor's plug-in
# NAME.auf2 (target NAME_auf2), exporting GetFilterPluginTable, InitializePlugin and UninitializePlugin only. That editor
# runs on 64-bit Windows alone: there it is a DLL with the runtime linked in statically and a version
# resource; native builds make it for the tests; 32-bit Windows builds leave it out.
function(auf_add_auf2 name core)
  if(WIN32 AND NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
    return()
  endif()
  cmake_parse_arguments(P "" "DESCRIPTION" "" ${ARGN})
  set(target ${name}_auf2)
  add_library(${target} MODULE ${P_UNPARSED_ARGUMENTS})
  target_link_libraries(${target} PRIVATE ${core} auf2 auf_version)
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${name} SUFFIX .auf2
                        LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  if(WIN32)
    auf_add_version_resource(${target} "${P_DESCRIPTION}" ${name}.auf2)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++
                        ${CMAKE_SOURCE_DIR}/cmake/plugin_auf2.def)
  else()
    # Never unmapped while the process lives: its worker threads may outlast a dlclose.
    target_link_options(${target} PRIVATE -Wl,--version-script=${CMAKE_SOURCE_DIR}/cmake/plugin_auf2.map
                        -Wl,--no-undefined -Wl,-z,nodelete)
  endif()
endfunction()
