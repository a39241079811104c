# Reads the export table from the .def file, so that the native build
# exports the same names: a version script for the list, and --defsym for the
# names that share a body ("Name = Body").
function(votar_native_exports def_file out_script out_link_options)
  file(STRINGS "${def_file}" lines)
  set(globals "")
  set(options "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]+([A-Za-z0-9_]+)[ \t]*=[ \t]*([A-Za-z0-9_]+)[ \t]+@[0-9]+")
      string(APPEND globals "    ${CMAKE_MATCH_1};\n")
      list(APPEND options "LINKER:--defsym,${CMAKE_MATCH_1}=${CMAKE_MATCH_2}")
    elseif(line MATCHES "^[ \t]+([A-Za-z0-9_]+)[ \t]+@[0-9]+")
      string(APPEND globals "    ${CMAKE_MATCH_1};\n")
    endif()
  endforeach()
  file(WRITE "${out_script}" "{\n  global:\n${globals}  local: *;\n};\n")
  set(${out_link_options} "${options}" PARENT_SCOPE)
endfunction()
