# End-to-end tests of splinefit's command line, one CASE per ctest test:
#   cmake -DSPLINEFIT=<program> -DVERSION=<project version> -DEXAMPLES=<examples dir>
#         -DSCRATCH=<scratch dir> -DCASE=help|version|refused|no_arguments
#         -P test_command_line.cmake
file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}")

# Runs splinefit with the given arguments in `dir`, standard input empty.
function(run_splinefit dir)
  execute_process(COMMAND "${SPLINEFIT}" ${ARGN} WORKING_DIRECTORY "${dir}" INPUT_FILE /dev/null
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
  set(status "${status}" PARENT_SCOPE)
endfunction()

function(fail what)
  message(FATAL_ERROR "${what}\nstatus: ${status}\nstdout:\n${out}\nstderr:\n${err}")
endfunction()

# A copy of the automatic example, not yet fitted: --help, --version and the refusals must leave
# it as it is.
set(work "${SCRATCH}/work")
file(COPY "${EXAMPLES}/automatic/" DESTINATION "${work}")
function(expect_untouched)
  foreach(output Control.plt data/damped.res data/damped-1.dat)
    if(EXISTS "${work}/${output}")
      fail("${output} was written although no fit was asked for")
    endif()
  endforeach()
endfunction()

if(CASE STREQUAL "help")
  run_splinefit("${work}" --help)
  if(NOT status EQUAL 0 OR NOT err STREQUAL "")
    fail("--help must end with status 0 and write nothing on standard error")
  endif()
  foreach(needed "Usage: splinefit" "Control.dat" "Computational-parameters.dat"
                 "<Path><Inputfile>.dat" "<Path><Inputfile>.knots" "<Path><Inputfile>.res"
                 "<Path><Inputfile>-1.dat" "Control.plt" "Exit status" "0 complete run"
                 "1 numerical" "2 unusable input" "3 more data rows" "splinefit.gp" "--version")
    string(FIND "${out}" "${needed}" at)
    if(at EQUAL -1)
      fail("--help does not mention ${needed}")
    endif()
  endforeach()
  expect_untouched()
elseif(CASE STREQUAL "version")
  run_splinefit("${work}" --version)
  if(NOT status EQUAL 0 OR NOT out STREQUAL "splinefit ${VERSION}\n" OR NOT err STREQUAL "")
    fail("--version must print 'splinefit ${VERSION}' alone and end with status 0")
  endif()
  expect_untouched()
elseif(CASE STREQUAL "refused")
  foreach(arguments "--bogus" "-h" "help" "--VERSION" "--help;--version" "--version;extra" "EMPTY")
    if(arguments STREQUAL "EMPTY")  # one empty argument, which is not the same as none
      execute_process(COMMAND "${SPLINEFIT}" "" WORKING_DIRECTORY "${work}" INPUT_FILE /dev/null
                      OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
    else()
      run_splinefit("${work}" ${arguments})
    endif()
    string(FIND "${err}" "Usage: splinefit" at)
    if(NOT status EQUAL 2 OR NOT out STREQUAL "" OR at EQUAL -1)
      fail("'${arguments}' must be refused with status 2 and the usage on standard error only")
    endif()
    expect_untouched()
  endforeach()
elseif(CASE STREQUAL "no_arguments")
  run_splinefit("${work}")
  if(NOT status EQUAL 0 OR NOT err STREQUAL "")
    fail("a run without arguments must end with status 0 and nothing on standard error")
  endif()
  if(NOT out MATCHES "\nIterations in optimisation: +[0-9]+\n.*\nPress enter key$")
    fail("the console must show the iteration count and end with the prompt")
  endif()
  file(READ "${work}/Control.plt" plot_control)
  if(NOT plot_control STREQUAL "Dir = 'data/'\nName = 'damped'")
    fail("Control.plt must name the data set:\n${plot_control}")
  endif()
  foreach(output data/damped.res data/damped-1.dat)
    if(NOT EXISTS "${work}/${output}")
      fail("${output} is missing after the run")
    endif()
  endforeach()
else()
  message(FATAL_ERROR "unknown CASE '${CASE}'")
endif()
