# Runs splinefit on the bundled examples in a scratch copy, leaving examples/ untouched, and draws
# each fit with the plot script when gnuplot is installed.
#   cmake -DSPLINEFIT=<program> -DEXAMPLES=<examples dir> -DSCRATCH=<scratch dir>
#         -DPLOT_SCRIPT=<plot/splinefit.gp> -P RunExample.cmake
# docs/example.png, docs/unix-time.png, docs/free-knots.png and docs/robust.png are copies of the
# automatic, unix-time, free-knots and robust examples' pictures, made with
#   cmake --workflow --preset example
#   cp build/default/example-run/automatic/data/damped.png docs/example.png
#   cp build/default/example-run/unix-time/data/temps.png docs/unix-time.png
#   cp build/default/example-run/free-knots/data/damped.png docs/free-knots.png
#   cp build/default/example-run/robust/data/line.png docs/robust.png
file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}")
find_program(GNUPLOT gnuplot)
foreach(example automatic:damped knots-file:damped unix-time:temps free-knots:damped robust:line)  # directory:data set
  string(REPLACE ":" ";" directory_and_name "${example}")
  list(GET directory_and_name 0 example)
  list(GET directory_and_name 1 name)
  file(COPY "${EXAMPLES}/${example}" DESTINATION "${SCRATCH}")
  execute_process(COMMAND "${SPLINEFIT}" WORKING_DIRECTORY "${SCRATCH}/${example}"
                  INPUT_FILE /dev/null OUTPUT_VARIABLE console RESULT_VARIABLE status)
  message("${console}\n")
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "splinefit ended with status ${status} in ${SCRATCH}/${example}")
  endif()
  set(files "results in ${SCRATCH}/${example}/data/${name}.res, fit report in "
            "${SCRATCH}/${example}/data/${name}.fit")
  string(REPLACE ";" "" files "${files}")
  if(EXISTS "${SCRATCH}/${example}/data/${name}-1.dat")
    string(APPEND files ", envelope in ${SCRATCH}/${example}/data/${name}-1.dat")
  endif()
  message(STATUS "${example}: ${files}")
  if(GNUPLOT)
    execute_process(COMMAND "${GNUPLOT}" "${PLOT_SCRIPT}" WORKING_DIRECTORY "${SCRATCH}/${example}"
                    OUTPUT_QUIET RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "gnuplot ended with status ${status} in ${SCRATCH}/${example}")
    endif()
    message(STATUS "${example}: plot in ${SCRATCH}/${example}/data/${name}.png")
  endif()
endforeach()
if(NOT GNUPLOT)
  message(STATUS "No plots: gnuplot is not installed. Install it (on Debian or Ubuntu: "
                 "apt-get install gnuplot-nox), then run this again, or run "
                 "'gnuplot ${PLOT_SCRIPT}' in each directory under ${SCRATCH}.")
endif()
