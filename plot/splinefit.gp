# Draws a splinefit run: run in the working directory of the run, after splinefit,
#
#     gnuplot splinefit.gp        (or gnuplot <prefix>/share/splinefit/splinefit.gp)
#
# Control.plt (written by splinefit) names the data set: Dir, the path prefix, and Name. The
# script reads <Dir><Name>.res and, for an envelope run, <Dir><Name>-1.dat, and writes
# <Dir><Name>.png: the data points, the fitted spline from the table block, the knots from the
# coefficient block and the envelope points on the top panel, the first and second derivatives on
# the panels below, all sharing the x axis; the page title is the results file's first line.
#
# Blocks of the results file after its title line, as gnuplot counts them (lines starting with #
# are comments, two blank lines end a block): index 0 the data points (x, y); index 1 the knots
# and coefficients (X[j], c[j][0..M]), J + 1 rows; index 2 the table (x, P, P', P'' and, for
# M = 3, P'''). Only the first four columns of each are used, so M = 2 and M = 3 draw the same way.

load 'Control.plt'
if (!exists("Dir") || !exists("Name")) {
  exit error "Control.plt must set Dir and Name; run splinefit in this directory first"
}
results = Dir.Name.'.res'
envelope = Dir.Name.'-1.dat'
picture = Dir.Name.'.png'

# The title: the first line of the results file, read whole (newline as the only separator, no
# comment characters, so a title with blanks, tabs or a leading # comes through unchanged).
undefine STATS_*
set datafile separator "\n"
set datafile commentschars ""
stats results every ::0:0:0:0 using (Title = strcol(1), 0) nooutput
if (!exists("STATS_records")) {
  exit error "cannot read ".results."; run splinefit in this directory first"
}
# An empty title line is a blank line, so the first record is then the heading that follows it;
# the data set's name stands in for a missing title. gnuplot's reader ends a text at a double
# quote, so a title holding one is shown up to that quote.
if (Title eq "# Data points" || Title eq "") { Title = Dir.Name }
set datafile separator whitespace
set datafile commentschars "#"

# Knot positions, for the dotted lines on every panel, and the x range of data and knots alike.
stats results skip 1 index 1 using 1 nooutput
nknots = STATS_records
xlo = STATS_min
xhi = STATS_max
array Knot[nknots]
stats results skip 1 index 1 using (Knot[int($0) + 1] = $1) nooutput
stats results skip 1 index 0 using 1 nooutput
xlo = (STATS_min < xlo) ? STATS_min : xlo
xhi = (STATS_max > xhi) ? STATS_max : xhi
xpad = (xhi > xlo) ? 0.02 * (xhi - xlo) : 1.0

# The envelope file is drawn when the parameter file asks for one (its fourth value, Envelope,
# is not 0), so that the file of an earlier run is not mistaken for this run's. Without a
# readable parameter file the envelope file is drawn whenever it can be read.
Envelope = 1
undefine STATS_*
set datafile commentschars ""
value_count = 0
stats 'Computational-parameters.dat' skip 1 \
      using (value_count = value_count + 1, (value_count == 4 ? (Envelope = column(1)) : 0), 0) \
      nooutput
set datafile commentschars "#"
have_envelope = 0
if (Envelope != 0) {
  undefine STATS_*
  stats envelope skip 1 using 1:2 nooutput
  have_envelope = exists("STATS_records") ? (STATS_records > 0) : 0
}
# The plot element for the envelope points, spliced into the top panel's plot command.
envelope_points = !have_envelope ? "" : sprintf("'%s' skip 1 using 1:2 with points pointtype 6 \
  pointsize 1.1 linecolor rgb '#ff7f0e' title '%s envelope points',", envelope, \
  (Envelope > 0) ? "upper" : "lower")

if (strstrt(GPVAL_TERMINALS, " pngcairo ") > 0) {
  set terminal pngcairo size 1000,1000 font "sans,11"
} else {
  set terminal png size 1000,1000
}
set output picture

set multiplot title Title font ",13" noenhanced
set xrange [xlo - xpad : xhi + xpad]
set lmargin at screen 0.10
set rmargin at screen 0.97
set grid
set xzeroaxis
# Room above and below the curves, so that no point sits on a frame and tick labels of
# neighbouring panels do not meet.
set offsets 0, 0, graph 0.06, graph 0.06
do for [k = 1:nknots] {
  set arrow k from Knot[k], graph 0 to Knot[k], graph 1 nohead dashtype 3 linecolor rgb "#999999"
}

# Top: data, envelope points, the spline and the knots on it (the value at knot j is c[j][0]).
set tmargin at screen 0.93
set bmargin at screen 0.45
set format x ""
set ylabel "y"
set key top right box opaque
plot results skip 1 index 0 using 1:2 with points pointtype 7 pointsize 0.5 \
       linecolor rgb "#808080" title "data", \
     @envelope_points \
     results skip 1 index 2 using 1:2 with lines linewidth 2 linecolor rgb "#1f77b4" \
       title "fitted spline", \
     results skip 1 index 1 using 1:2 with points pointtype 13 pointsize 1.4 \
       linecolor rgb "#d62728" title "knots"

# A derivative that is constant (a straight line, or a parabola's second derivative on one
# interval) gets a range around its value instead of gnuplot's warning about an empty range.
half_width(v) = (v == 0) ? 1.0 : 0.1 * abs(v)
derivative_range = "stats results skip 1 index 2 using column_no nooutput; \
  if (STATS_min == STATS_max) { \
    set yrange [STATS_min - half_width(STATS_min) : STATS_max + half_width(STATS_max)] \
  } else { set autoscale y }"

unset key
set tmargin at screen 0.43
set bmargin at screen 0.27
set ylabel "dy/dx"
column_no = 3
eval derivative_range
plot results skip 1 index 2 using 1:3 with lines linewidth 2 linecolor rgb "#2ca02c"

set tmargin at screen 0.25
set bmargin at screen 0.07
set format x "% h"
set xlabel "x"
set ylabel "d^2y/dx^2"
column_no = 4
eval derivative_range
plot results skip 1 index 2 using 1:4 with lines linewidth 2 linecolor rgb "#9467bd"

unset multiplot
unset output
set print "-"
print "splinefit.gp: wrote ".picture
