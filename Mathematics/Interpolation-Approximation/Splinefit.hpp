// The fitting driver of splinefit: one run in the working directory, from Control.dat and
// Computational-parameters.dat to the results file, the envelope file and Control.plt.
//
// Exit statuses: 0 after a complete run; 1 when a numerical routine ends the run (numerror);
// 2 for an input file that is missing, unreadable or malformed, a setting out of range, or an
// output file that cannot be written (one line on standard error, no results or envelope file
// left behind); 3 when the data file holds more rows than Nmax allows.
#pragma once

// The whole program; returns the exit status.
int splinefit_main();
