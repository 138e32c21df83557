# Fails when an object file has sections of code run before main
# (.init_array, .ctors, .preinit_array).
string(REPLACE "|" ";" objects "${OBJECTS}")
foreach(object IN LISTS objects)
  execute_process(COMMAND ${READELF} -S --wide ${object}
                  OUTPUT_VARIABLE sections RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "cannot read ${object}")
  endif()
  if(sections MATCHES "\\.(init_array|preinit_array|ctors)")
    message(FATAL_ERROR "${object} runs code before main")
  endif()
  message(STATUS "${object}: no start-up code")
endforeach()
