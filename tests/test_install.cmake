# Installs the build tree into a scratch prefix: the installed splinefit must name its plot script,
# and tests/consumer must build against the package and print what the README's examples promise.
file(REMOVE_RECURSE "${SCRATCH}")
set(prefix "${SCRATCH}/prefix")

# Runs a command; it must end with status 0 and print something matching `pattern`.
function(expect pattern)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT out MATCHES "${pattern}")
    message(FATAL_ERROR "${ARGN}\nended with status ${status}, expected /${pattern}/:\n${out}\n${err}")
  endif()
endfunction()

expect("" "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}")
expect("gnuplot ${prefix}/${DATADIR}/splinefit/splinefit.gp\n" "${prefix}/${BINDIR}/splinefit" --help)
expect("" "${CMAKE_COMMAND}" -S "${CONSUMER}" -B "${SCRATCH}/consumer" -G "${GENERATOR}"
       "-DCMAKE_PREFIX_PATH=${prefix}" "-DCMAKE_CXX_COMPILER=${CXX}"
       "-DCMAKE_CXX_FLAGS=${CXX_FLAGS} -Wall -Wextra -Wpedantic -Werror -ffp-contract=off"
       "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}" "-DCMAKE_BUILD_TYPE=${BUILD_TYPE}")
expect("" "${CMAKE_COMMAND}" --build "${SCRATCH}/consumer")
# Rosenbrock's function has its least value at (1, 1); a not-a-knot spline reproduces a cubic;
# the least-squares spline of sin x is 1 at pi/2 with slope 0, and its integral from 0 to pi is 2.
expect("^minimum at x = 1\\.0000, y = 1\\.0000, " "${SCRATCH}/consumer/powell_example")
expect("^s\\(1\\.3\\) = 0\\.597000 \\(exact 0\\.597000\\), s'\\(1\\.3\\) = 3\\.070000 \\(exact 3\\.070000\\)\n$"
       "${SCRATCH}/consumer/spline_example")
expect("^s\\(pi/2\\) = (0\\.99|1\\.00)[0-9]+ \\+- 0\\.000[0-9]+, s'\\(pi/2\\) = -?0\\.00[0-9]+, integral 0\\.\\.pi = (1\\.99|2\\.00)[0-9]+, "
       "${SCRATCH}/consumer/lsq_example")
