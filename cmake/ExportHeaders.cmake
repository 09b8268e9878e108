# Gives a library an include root of its own that holds only its layer's
# headers, spelled "<layer>/<name>.h" as everywhere in the sources. Whoever
# links the library sees them; a file that includes the header of a layer
# its library does not link fails to compile. The headers are linked, not
# copied, so that an edit and a compiler's message both reach the source.
function(pictrim_export_headers target)
  set(root ${PROJECT_BINARY_DIR}/include/${target})
  foreach(layer IN LISTS ARGN)
    file(REMOVE_RECURSE ${root}/${layer})
    file(MAKE_DIRECTORY ${root}/${layer})
    file(GLOB headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${layer}/*.h)
    foreach(header IN LISTS headers)
      get_filename_component(name ${header} NAME)
      file(CREATE_LINK ${header} ${root}/${layer}/${name} SYMBOLIC)
    endforeach()
  endforeach()
  target_include_directories(${target} PUBLIC ${root})
endfunction()
