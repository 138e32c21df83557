# Runs the option table generator over every bad_tables/*.txt and expects it
# to fail with "FILE:LINE: error: ..." where the case's first line reads
#   # expect LINE: REGEX
# and to write nothing.
file(GLOB cases ${CASES}/*.txt)
if(NOT cases)
  message(FATAL_ERROR "no cases in ${CASES}")
endif()
set(failures 0)
foreach(case IN LISTS cases)
  get_filename_component(name ${case} NAME_WE)
  file(STRINGS ${case} header LIMIT_COUNT 1)
  if(NOT header MATCHES "^# expect ([0-9]+): (.*)$")
    message(FATAL_ERROR "${case}: first line must be '# expect LINE: REGEX'")
  endif()
  set(line ${CMAKE_MATCH_1})
  set(pattern ${CMAKE_MATCH_2})
  set(out ${WORK}/${name})
  file(REMOVE_RECURSE ${out})
  execute_process(COMMAND ${PYTHON} ${GENERATOR} ${case} ${out}
                  RESULT_VARIABLE status ERROR_VARIABLE error
                  OUTPUT_VARIABLE output)
  if(status EQUAL 0)
    message(SEND_ERROR "${name}: the generator accepted the table")
    math(EXPR failures "${failures} + 1")
  elseif(NOT error MATCHES "^[^\n]*${name}\\.txt:${line}: error: ${pattern}")
    message(SEND_ERROR "${name}: expected line ${line}: ${pattern}\n"
                       "got: ${error}")
    math(EXPR failures "${failures} + 1")
  elseif(EXISTS ${out})
    message(SEND_ERROR "${name}: the generator wrote output")
    math(EXPR failures "${failures} + 1")
  else()
    message(STATUS "${name}: ${error}")
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "${failures} bad table(s) not rejected as expected")
endif()
