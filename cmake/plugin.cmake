# auf_add_plugin(NAME CORE_TARGET SOURCES...): the loadable plug-in. Exports GetFilterTable only;
# on 32-bit Windows it is a DLL named NAME.auf (NAME.dll on 64-bit Windows) with the runtime linked in
# statically.
function(auf_add_plugin name core)
  add_library(${name} MODULE ${ARGN})
  target_link_libraries(${name} PRIVATE ${core})
  set_target_properties(${name} PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  if(WIN32)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      set_target_properties(${name} PROPERTIES SUFFIX ".auf")
    endif()
    target_link_options(${name} PRIVATE -static -static-libgcc -static-libstdc++ -Wl,--kill-at
                        ${CMAKE_SOURCE_DIR}/cmake/plugin.def)
  else()
    target_link_options(${name} PRIVATE -Wl,--version-script=${CMAKE_SOURCE_DIR}/cmake/plugin.map
                        -Wl,--no-undefined)
  endif()
endfunction()
