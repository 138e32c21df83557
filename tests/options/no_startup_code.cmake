# Fails when an object file registers code to run before main (entries of
# .init_array, .preinit_array or .ctors).  The module constructors that
# sanitizer instrumentation adds to every object are not the code's own and
# are allowed.
string(REPLACE "|" ";" objects "${OBJECTS}")
foreach(object IN LISTS objects)
  execute_process(COMMAND ${READELF} -r --wide ${object}
                  OUTPUT_VARIABLE relocations RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "cannot read ${object}")
  endif()
  string(REPLACE "\n" ";" lines "${relocations}")
  set(in_startup_section FALSE)
  foreach(line IN LISTS lines)
    if(line MATCHES "^Relocation section '([^']*)'")
      if(CMAKE_MATCH_1 MATCHES "\\.(init_array|preinit_array|ctors)")
        set(in_startup_section TRUE)
      else()
        set(in_startup_section FALSE)
      endif()
    elseif(in_startup_section AND line MATCHES "^[0-9a-f]+ "
           AND NOT line MATCHES "\\.module_ctor")
      message(FATAL_ERROR "${object} runs code before main:\n${line}")
    endif()
  endforeach()
  message(STATUS "${object}: no start-up code")
endforeach()
