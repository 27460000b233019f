# qb_warnings(target): the warning set every target of ours builds clean with.
function(qb_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
      $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor> -Wcast-align $<$<COMPILE_LANGUAGE:CXX>:-Woverloaded-virtual>
      -Wformat=2 -Wimplicit-fallthrough -Wnull-dereference)
    if(QB_WERROR)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
  endif()
endfunction()
