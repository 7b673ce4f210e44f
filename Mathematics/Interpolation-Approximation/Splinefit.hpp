// The fitting driver of splinefit: one run in the working directory, from Control.dat and
// Computational-parameters.dat to the files of output_files, each written under a temporary name
// and put in place only when the run succeeds (Output.hpp).
//
// Exit statuses: 0 after a complete run; 1 when a numerical routine ends the run (numerror);
// 2 for an input file that is missing, unreadable or malformed, a setting out of range, an
// output file that cannot be written, or a bad SPLINEFIT_THREADS or SPLINEFIT_WRITE_LIMIT in the
// environment (one line on standard error; the previous results of the data set are left as they
// were); 3 when the data file holds more rows than Nmax allows; 128 + n after signal n (SIGINT,
// SIGTERM, SIGHUP), with the temporary files removed.
#pragma once

#include <string>

#include "Input.hpp"

// One output file of a run: its name, what it holds and when it is written.
struct OutputFileKind {
  const char* name;  // in the working directory; "<Path><Inputfile>" stands for the data set
  const char* what;  // what it holds, for splinefit --help
  const char* when;  // when it is written, for --help: nullptr for every run that gets so far
  bool (*wanted)(const ComputationalParameters& cp);  // whether this run writes it; nullptr: yes
};

// The output files in the order they are put in place: Control.plt before the data are read, the
// fit's files together after the fit. The clean-up of leftover temporaries, the commit, splinefit
// --help and the tests read this list; a new output file is an entry in it (and its index) and
// the driver's code that writes its content.
enum OutputFileIndex {
  plot_control_output,
  results_output,
  report_output,
  envelope_output,
  knots_output
};
inline constexpr OutputFileKind output_files[] = {
    {"Control.plt", "Path and Inputfile, for the plot script", nullptr, nullptr},
    {"<Path><Inputfile>.res", "data points, knots, coefficients, spline table", nullptr, nullptr},
    {"<Path><Inputfile>.fit", "the fit report", nullptr, nullptr},
    {"<Path><Inputfile>-1.dat", "the envelope points", "when Envelope is not 0",
     [](const ComputationalParameters& cp) { return cp.Envelope != 0; }},
    {"<Path><Inputfile>-fit.knots", "the knots the data chose, as a knots file",
     "when Knots is 1 or 2",
     [](const ComputationalParameters& cp) { return cp.Knots != lsq::Knots::given; }},
};

// Whether a run with the parameters cp writes `kind`'s file (when it gets so far).
inline bool writes(const OutputFileKind& kind, const ComputationalParameters& cp) {
  return kind.wanted == nullptr || kind.wanted(cp);
}

// The name of `kind`'s file for the data set of `rc`: "<Path><Inputfile>" replaced by Path and
// Inputfile as they stand.
std::string output_name(const OutputFileKind& kind, const RunControl& rc);

// The whole program; returns the exit status.
int splinefit_main();
