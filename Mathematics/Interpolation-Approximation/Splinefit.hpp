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

// Automatic knots: with the data sorted, point i goes to interval j when
// round((j - 1) * N / J) < i <= round(j * N / J) (halves rounded away from zero); the inner knots
// are the midpoints between the last point of one group and the first of the next, the end knots
// the smallest and largest abscissa. Fills X (1..J + 1) and I (1..N) from x; needs 1 <= J < 2N.
void place_knots_evenly();

// Knots from a file: X (1..J + 1) is given; each point goes to the last interval whose left knot
// is at or below it, and a point below the first knot to interval 1. Fills I (1..N).
void assign_intervals_from_knots();
