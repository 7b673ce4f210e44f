# Draws fits with the plot script: the automatic example (cubic, upper envelope), a quadratic on
# one interval whose Path has no separator and which writes no envelope, a quadratic through three
# points whose fit report leaves the band out (no degrees of freedom), the automatic example
# without its fit report, as an older run has none, the free-knots example with its scan, and the
# robust example (points coloured by their robust weight).
# gnuplot must say nothing about the script, name the picture it wrote and the file of the data
# points (the report, whose numbers are the run's doubles, or without one the results file; for
# the robust fit, that they are coloured by their robust weights), and write a PNG file. Skipped
# without gnuplot.
#   cmake -DSPLINEFIT=<program> -DPLOT_SCRIPT=<plot/splinefit.gp> -DEXAMPLES=<examples dir>
#         -DSCRATCH=<scratch dir> -P test_plot.cmake
find_program(GNUPLOT gnuplot)
if(NOT GNUPLOT)
  message("SKIPPED: gnuplot is not installed (apt-get install gnuplot-nox)")
  return()
endif()
file(REMOVE_RECURSE "${SCRATCH}")
file(COPY "${EXAMPLES}/automatic/" DESTINATION "${SCRATCH}/automatic")
file(COPY "${EXAMPLES}/automatic/" DESTINATION "${SCRATCH}/no-report")
file(COPY "${EXAMPLES}/free-knots/" DESTINATION "${SCRATCH}/free-knots")
file(COPY "${EXAMPLES}/robust/" DESTINATION "${SCRATCH}/robust")
file(READ "${EXAMPLES}/automatic/data/damped.dat" damped)
file(WRITE "${SCRATCH}/quadratic/datarun1.dat" "${damped}")
file(WRITE "${SCRATCH}/no-band/datarun1.dat" "Three points\n0 1\n1 2\n2 0.5\n")
foreach(run quadratic no-band)
  file(WRITE "${SCRATCH}/${run}/Control.dat" "data run1 1 2 0 2 2 1\n")
  file(WRITE "${SCRATCH}/${run}/Computational-parameters.dat" "P\n20\n6\n1e-8\n0\n1000\n")
endforeach()
foreach(run automatic quadratic no-band no-report free-knots robust)
  set(dir "${SCRATCH}/${run}")
  execute_process(COMMAND "${SPLINEFIT}" WORKING_DIRECTORY "${dir}" INPUT_FILE /dev/null
                  OUTPUT_QUIET RESULT_VARIABLE fit_status)
  file(REMOVE "${SCRATCH}/no-report/data/damped.fit")
  execute_process(COMMAND "${GNUPLOT}" "${PLOT_SCRIPT}" WORKING_DIRECTORY "${dir}"
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
  string(REGEX MATCH "wrote ([^,\n]*), the data points from [^\n]*[.](res|fit)(, coloured by their robust weights)?\n" wrote "${out}")
  set(source "${run}:${CMAKE_MATCH_2}${CMAKE_MATCH_3}")
  file(READ "${dir}/${CMAKE_MATCH_1}" signature LIMIT 8 HEX)
  if(NOT fit_status EQUAL 0 OR NOT status EQUAL 0 OR err MATCHES "splinefit.gp\" line"
     OR NOT signature STREQUAL "89504e470d0a1a0a"
     OR NOT source MATCHES "^(automatic|quadratic|no-band|free-knots):fit$|^no-report:res$|^robust:fit, coloured by their robust weights$")
    message(FATAL_ERROR "${run}: fit ${fit_status}, gnuplot ${status}:\n${out}\n${err}")
  endif()
endforeach()
