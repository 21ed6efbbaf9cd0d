# chronavel_window_files(<out>): the window files cmake/window_files.txt
# lists, sources and headers, as full paths.
function(chronavel_window_files out)
  set(list_file ${PROJECT_SOURCE_DIR}/cmake/window_files.txt)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${list_file})
  file(STRINGS ${list_file} patterns REGEX "^[^#]")
  set(globs "")
  foreach(pattern ${patterns})
    list(APPEND globs ${PROJECT_SOURCE_DIR}/${pattern})
  endforeach()
  file(GLOB files CONFIGURE_DEPENDS ${globs})
  set(${out} ${files} PARENT_SCOPE)
endfunction()
