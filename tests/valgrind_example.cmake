# Runs splinefit under valgrind's memcheck on a scratch copy of examples/automatic: any memory
# error or leaked block fails the test. Prints "SKIPPED: <reason>" instead when SKIP is set.
#   cmake -DVALGRIND=<valgrind> -DSPLINEFIT=<program> -DEXAMPLE=<examples/automatic>
#         -DSCRATCH=<scratch dir> [-DSKIP=<reason>] -P valgrind_example.cmake
if(SKIP)
  message("SKIPPED: ${SKIP}")
  return()
endif()
file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}")
file(COPY "${EXAMPLE}/" DESTINATION "${SCRATCH}")
execute_process(COMMAND "${VALGRIND}" --error-exitcode=99 --leak-check=full "${SPLINEFIT}"
                WORKING_DIRECTORY "${SCRATCH}" INPUT_FILE /dev/null
                OUTPUT_VARIABLE console ERROR_VARIABLE report RESULT_VARIABLE status)
message("${report}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "splinefit under valgrind ended with status ${status} (99: memcheck found errors)")
endif()
file(GLOB results "${SCRATCH}/data/*.res")
if(NOT results)
  message(FATAL_ERROR "splinefit under valgrind wrote no results file in ${SCRATCH}/data")
endif()
message("memcheck: no errors; results in ${results}")
