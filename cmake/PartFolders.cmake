# qb_add_part_folders(): adds every sub-folder of the current folder that has a CMakeLists.txt; each
# belongs to one part of the toolkit. Folders of the terminal are skipped when it is not built.
function(qb_add_part_folders)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child ${children})
    if(child MATCHES "^app" AND NOT QB_BUILD_APP)
      continue()
    endif()
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
