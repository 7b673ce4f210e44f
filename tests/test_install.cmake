# Installs the build tree into a scratch prefix, checks the installed files, and builds and runs
# the consumer project (tests/consumer: the README's library examples) against that prefix.
#   cmake -DBUILD_DIR=<build tree> -DCONSUMER=<tests/consumer> -DSCRATCH=<scratch dir>
#         -DGENERATOR=... -DCXX=... -DCXX_FLAGS=... -DLINKER_FLAGS=... -DBUILD_TYPE=...
#         -DBINDIR=... -DLIBDIR=... -DINCLUDEDIR=... -DDATADIR=... -DLIBRARIES=<a,b,...>
#         -DVERSION=<project version> -P test_install.cmake
file(REMOVE_RECURSE "${SCRATCH}")
set(prefix "${SCRATCH}/prefix")

function(run what)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${what} ended with status ${status}:\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

run("cmake --install" "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}")

set(expected "${BINDIR}/splinefit" "${DATADIR}/splinefit/splinefit.gp"
             "${LIBDIR}/cmake/Splinefit/SplinefitConfig.cmake"
             "${LIBDIR}/cmake/Splinefit/SplinefitConfigVersion.cmake")
foreach(header Numutil.hpp Sort2.hpp Interpolation.hpp Optimise.hpp)
  list(APPEND expected "${INCLUDEDIR}/splinefit/${header}")
endforeach()
string(REPLACE "," ";" LIBRARIES "${LIBRARIES}")
foreach(library ${LIBRARIES})
  list(APPEND expected "${LIBDIR}/${library}")
endforeach()
foreach(file ${expected})
  if(NOT EXISTS "${prefix}/${file}")
    message(FATAL_ERROR "cmake --install did not install ${file}")
  endif()
endforeach()

# The installed program names the plot script installed beside it.
run("installed splinefit --help" "${prefix}/${BINDIR}/splinefit" --help)
string(FIND "${out}" "gnuplot ${prefix}/${DATADIR}/splinefit/splinefit.gp\n" at)
if(at EQUAL -1)
  message(FATAL_ERROR "splinefit --help must name ${prefix}/${DATADIR}/splinefit/splinefit.gp:\n"
                      "${out}")
endif()
run("installed splinefit --version" "${prefix}/${BINDIR}/splinefit" --version)
if(NOT out STREQUAL "splinefit ${VERSION}\n")
  message(FATAL_ERROR "installed splinefit --version printed: ${out}")
endif()

# The consumer: find_package(Splinefit) and the namespaced targets, built as the tree was built,
# warnings as errors.
run("configuring the consumer" "${CMAKE_COMMAND}" -S "${CONSUMER}" -B "${SCRATCH}/consumer"
    -G "${GENERATOR}" "-DCMAKE_PREFIX_PATH=${prefix}" "-DCMAKE_CXX_COMPILER=${CXX}"
    "-DCMAKE_CXX_FLAGS=${CXX_FLAGS} -Wall -Wextra -Wpedantic -Werror -ffp-contract=off"
    "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}" "-DCMAKE_BUILD_TYPE=${BUILD_TYPE}")
run("building the consumer" "${CMAKE_COMMAND}" --build "${SCRATCH}/consumer")

# Rosenbrock's function has its least value at (1, 1).
run("powell_example" "${SCRATCH}/consumer/powell_example")
if(NOT out MATCHES "^minimum at x = 1\\.0000, y = 1\\.0000, ")
  message(FATAL_ERROR "powell_example must find the minimum at (1, 1):\n${out}")
endif()
# A not-a-knot cubic spline reproduces the cubic it interpolates: value and slope as exact.
run("spline_example" "${SCRATCH}/consumer/spline_example")
set(number "(-?[0-9]+\\.[0-9]+)")
set(value "s\\(1\\.3\\) = ${number} \\(exact ${number}\\)")
set(slope "s'\\(1\\.3\\) = ${number} \\(exact ${number}\\)")
if(NOT out MATCHES "^${value}, ${slope}\n$"
   OR NOT CMAKE_MATCH_1 STREQUAL CMAKE_MATCH_2 OR NOT CMAKE_MATCH_3 STREQUAL CMAKE_MATCH_4)
  message(FATAL_ERROR "spline_example must reproduce the cubic:\n${out}")
endif()
message(STATUS "installed into ${prefix}; consumer built and run in ${SCRATCH}/consumer")
