# qb_add_part_folders([FIRST folder...]): adds every sub-folder of the current folder that has a
# CMakeLists.txt; each belongs to one part of the toolkit. Folders named after FIRST come first, in that
# order (others test for their targets); the rest follow sorted. Folders of the terminal are skipped
# when it is not built.
function(qb_add_part_folders)
  cmake_parse_arguments(PARSE_ARGV 0 ARG "" "" "FIRST")
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  if(ARG_FIRST)
    list(REMOVE_ITEM children ${ARG_FIRST})
    list(PREPEND children ${ARG_FIRST})
  endif()
  foreach(child ${children})
    if(child MATCHES "^app" AND NOT QB_BUILD_APP)
      continue()
    endif()
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
