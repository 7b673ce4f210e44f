// The fitting driver of splinefit: one run in the working directory, from Control.dat and
// Computational-parameters.dat to Control.plt, the results file, the fit report and the
// envelope file, each written under a temporary name and put in place only when the run
// succeeds (Output.hpp).
//
// Exit statuses: 0 after a complete run; 1 when a numerical routine ends the run (numerror);
// 2 for an input file that is missing, unreadable or malformed, a setting out of range, an
// output file that cannot be written (one line on standard error; the previous results of the
// data set are left as they were), or a SPLINEFIT_THREADS that parallel::threads() refuses
// (before any file is touched); 3 when the data file holds more rows than Nmax allows;
// 128 + n after signal n (SIGINT, SIGTERM, SIGHUP), with the temporary files removed.
#pragma once

// The whole program; returns the exit status.
int splinefit_main();
