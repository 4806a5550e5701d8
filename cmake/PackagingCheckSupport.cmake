# What the packaging checks run by ctest share (cmake -P scripts).

# Fails unless every named -D variable was given to the script.
function(require_definitions script)
  foreach(required IN LISTS ARGN)
    if(NOT DEFINED ${required})
      message(FATAL_ERROR "${script} needs -D${required}=")
    endif()
  endforeach()
endfunction()

# Runs a command; its failure fails the check with the command's output.
function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${what} failed (${status}):\n${output}")
  endif()
endfunction()
