# Runs splinefit on the bundled examples in a scratch copy, leaving examples/ untouched.
#   cmake -DSPLINEFIT=<program> -DEXAMPLES=<examples dir> -DSCRATCH=<scratch dir> -P RunExample.cmake
file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}")
foreach(example automatic knots-file)
  file(COPY "${EXAMPLES}/${example}" DESTINATION "${SCRATCH}")
  execute_process(COMMAND "${SPLINEFIT}" WORKING_DIRECTORY "${SCRATCH}/${example}"
                  INPUT_FILE /dev/null OUTPUT_VARIABLE console RESULT_VARIABLE status)
  message("${console}\n")
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "splinefit ended with status ${status} in ${SCRATCH}/${example}")
  endif()
  message(STATUS "${example}: results in ${SCRATCH}/${example}/data/damped.res, "
                 "envelope in ${SCRATCH}/${example}/data/damped-1.dat")
endforeach()
