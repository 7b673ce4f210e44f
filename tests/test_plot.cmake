# End-to-end test of the plot script: fits runs of several kinds with splinefit in scratch
# directories and draws each with gnuplot. Skipped (the message below) where gnuplot is missing.
#   cmake -DSPLINEFIT=<program> -DPLOT_SCRIPT=<plot/splinefit.gp> -DEXAMPLES=<examples dir>
#         -DSCRATCH=<scratch dir> -P test_plot.cmake
find_program(GNUPLOT gnuplot)
if(NOT GNUPLOT)
  message("SKIPPED: gnuplot is not installed (apt-get install gnuplot-nox); the plot script was "
          "not run")
  return()
endif()
file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}")

set(data "${EXAMPLES}/automatic/data/damped.dat")
# Writes the two configuration files of a run; Control.dat gets the data set's Path and name and
# the degree and interval count, the parameter file the envelope choice.
function(configure_run dir path name M J Envelope)
  file(WRITE "${dir}/Control.dat" "${path} ${name}\n1 2 3 3 ${M} ${J}\n")
  file(WRITE "${dir}/Computational-parameters.dat"
       "Computational parameters\n20 Nout\n6 Precision\n1e-8 criterion\n${Envelope} Envelope\n"
       "1000 Nmax\n")
  file(COPY_FILE "${data}" "${dir}/${path}${name}.dat")
endfunction()

# The runs, each with the picture that it must give (relative to its working directory).
set(runs automatic knots-file quadratic-one-interval quadratic-lower-envelope cubic-nested-path)
file(COPY "${EXAMPLES}/automatic" "${EXAMPLES}/knots-file" DESTINATION "${SCRATCH}")
set(picture_automatic "data/damped.png")       # M 3, 12 automatic knots, upper envelope
set(picture_knots-file "data/damped.png")      # M 3, knots from the knots file
# M 2 on a single interval, Path without a separator ('data' + 'run1'), no envelope
file(MAKE_DIRECTORY "${SCRATCH}/quadratic-one-interval")
configure_run("${SCRATCH}/quadratic-one-interval" data run1 2 1 0)
set(picture_quadratic-one-interval "datarun1.png")
# M 2 on many intervals, lower envelope, Path './'
file(MAKE_DIRECTORY "${SCRATCH}/quadratic-lower-envelope")
configure_run("${SCRATCH}/quadratic-lower-envelope" ./ run2 2 20 -1)
set(picture_quadratic-lower-envelope "./run2.png")
# M 3 on one interval with a Path two directories deep and no envelope
file(MAKE_DIRECTORY "${SCRATCH}/cubic-nested-path/out/fits")
configure_run("${SCRATCH}/cubic-nested-path" out/fits/ run3 3 1 0)
set(picture_cubic-nested-path "out/fits/run3.png")

foreach(run ${runs})
  set(dir "${SCRATCH}/${run}")
  execute_process(COMMAND "${SPLINEFIT}" WORKING_DIRECTORY "${dir}" INPUT_FILE /dev/null
                  OUTPUT_QUIET ERROR_VARIABLE err RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${run}: splinefit ended with status ${status}: ${err}")
  endif()
  execute_process(COMMAND "${GNUPLOT}" "${PLOT_SCRIPT}" WORKING_DIRECTORY "${dir}"
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
  set(picture "${dir}/${picture_${run}}")
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${run}: gnuplot ended with status ${status}:\n${out}\n${err}")
  endif()
  # Every message of gnuplot about the script starts with the script's name and a line number.
  if(err MATCHES "splinefit.gp\" line [0-9]+:")
    message(FATAL_ERROR "${run}: gnuplot reported on the script:\n${err}")
  endif()
  if(NOT out STREQUAL "splinefit.gp: wrote ${picture_${run}}\n")
    message(FATAL_ERROR "${run}: the script must name the picture it wrote, got:\n${out}")
  endif()
  if(NOT EXISTS "${picture}")
    message(FATAL_ERROR "${run}: no picture ${picture}")
  endif()
  file(SIZE "${picture}" size)
  file(READ "${picture}" signature LIMIT 8 HEX)
  if(size EQUAL 0 OR NOT signature STREQUAL "89504e470d0a1a0a")
    message(FATAL_ERROR "${run}: ${picture} is not a PNG file (${size} bytes)")
  endif()
  message(STATUS "${run}: ${picture}, ${size} bytes")
endforeach()
