# Draws a splinefit run: run in the working directory of the run, after splinefit,
#
#     gnuplot splinefit.gp        (or gnuplot <prefix>/share/splinefit/splinefit.gp)
#
# Control.plt (written by splinefit) names the data set: Dir, the path prefix, and Name. The
# script reads <Dir><Name>.res, the fit report <Dir><Name>.fit and, for an envelope run,
# <Dir><Name>-1.dat, and writes <Dir><Name>.png, 1000x1200. The top panel holds the 95%
# confidence band, the data points, the envelope points, the fitted spline from the table block
# and the knots from the coefficient block; below it the residuals y - s(x) against a zero line,
# then the first and second derivatives, all sharing the x axis. The page title is the results
# file's first line; the line under it gives M, J, the method, RSS, sigma and R^2, and under that
# runs the key. The data points come from the report's residual block and the spline from its
# band, whose numbers read back as the doubles of the run (Unix times, say, which the results
# file's few digits would draw in stripes). A run without a fit report (an older splinefit) is
# drawn from the results file alone: 1000x1000, no band, no residual panel, no summary line, the
# key inside the top panel.
#
# Blocks of the results file after its title line, as gnuplot counts them (lines starting with #
# are comments, two blank lines end a block): index 0 the data points (x, y); index 1 the knots
# and coefficients (X[j], c[j][0..M]), J + 1 rows, after the comment line "#<TAB>J<TAB>M"; index 2
# the table (x, P, P', P'' and, for M = 3, P'''). Only the first four columns of each are used, so
# M = 2 and M = 3 draw the same way.
#
# Blocks of the fit report: index 0 the title line, then one "name<TAB>value" line per statistic
# (a value may be the word undefined); index 1 the band on the table's abscissae (x, s, se, lower,
# upper); index 2 every data point (x, y, s(x), y - s(x) and, for a robust fit, the point's robust
# weight, which colours it: grey at 1 through orange to red near 0, a red ring at 0, rejected);
# with knots chosen by the data, index 3
# the intervals tried (J, RSS, rank, AIC, BIC, GCV, criterion, chosen). A band that was left out
# is a block of comment lines only, which gnuplot does not count as a block: the residuals are
# then index 1.

load 'Control.plt'
if (!exists("Dir") || !exists("Name")) {
  exit error "Control.plt must set Dir and Name; run splinefit in this directory first"
}
results = Dir.Name.'.res'
envelope = Dir.Name.'-1.dat'
picture = Dir.Name.'.png'
report = Dir.Name.'.fit'

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
# M and J, from the line "#<TAB>J<TAB>M" above the coefficients.
M = 0
J = 0
set datafile separator "\t"
stats results skip 1 using ((strcol(1) eq "#") ? (J = column(2), M = column(3)) : 0, 0) nooutput
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
ndata = STATS_records
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

# The fit report is drawn when its N is the number of data points in the results file, so that
# the report of an earlier run of another data set is not drawn with this one. The shell test
# keeps gnuplot from warning about a missing report, the normal case for an older run.
have_report = 0
have_band = 0
if (system(sprintf("test -r '%s' && echo yes", report)) eq "yes") {
  fit_N = -1
  fit_method = "undefined"
  fit_RSS = "undefined"
  fit_sigma = "undefined"
  fit_R2 = "undefined"
  fit_knots = 0
  fit_robust = "none"
  set datafile separator "\t"
  stats report index 0 using ((strcol(1) eq "N") ? (fit_N = column(2)) : 0, \
                              (strcol(1) eq "method") ? (fit_method = strcol(2)) : 0, \
                              (strcol(1) eq "RSS") ? (fit_RSS = strcol(2)) : 0, \
                              (strcol(1) eq "sigma") ? (fit_sigma = strcol(2)) : 0, \
                              (strcol(1) eq "R2") ? (fit_R2 = strcol(2)) : 0, \
                              (strcol(1) eq "knots") ? (fit_knots = column(2)) : 0, \
                              (strcol(1) eq "robust") ? (fit_robust = strcol(2)) : 0, 0) nooutput
  set datafile separator whitespace
  have_report = (fit_N == ndata)
}
if (have_report) {
  stats report using (0) nooutput
  # Knots chosen by the data (Knots 1 or 2) add the scan of the intervals tried as the last block.
  have_scan = (fit_knots > 0)
  scan_index = STATS_blocks - 1
  have_band = (STATS_blocks - have_scan >= 3)
  residual_index = STATS_blocks - 1 - have_scan
  stats report index residual_index using 1 nooutput
  xlo = (STATS_min < xlo) ? STATS_min : xlo
  xhi = (STATS_max > xhi) ? STATS_max : xhi
  xpad = (xhi > xlo) ? 0.02 * (xhi - xlo) : 1.0
  statistic(v) = (v eq "undefined") ? v : sprintf("%.4g", v + 0)
  method_name = (fit_method eq "0") ? "0 (Powell)" : \
                (fit_method eq "1") ? "1 (exact least squares)" : fit_method
  Summary = sprintf("M = %d,   J = %d,   method %s%s,   RSS = %s,   σ = %s,   R² = %s", M, J, \
                    method_name, (fit_robust eq "none") ? "" : ", robust: ".fit_robust, \
                    statistic(fit_RSS), statistic(fit_sigma), statistic(fit_R2))
}
have_robust = have_report ? (fit_robust ne "none") : 0
# The plot element for the band, first in the top panel's plot command so that it lies behind.
band_area = !have_band ? "" : sprintf("'%s' index 1 using 1:4:5 with filledcurves \
  fillcolor rgb '#bfd5ec' fillstyle solid 1.0 noborder title '95%% confidence band',", report)
# Where the data points and the spline are read from: the report's numbers in full where it has
# them, else the results file.
data_points = have_report ? sprintf("'%s' index %d using 1:2", report, residual_index) \
                          : sprintf("'%s' skip 1 index 0 using 1:2", results)
spline_curve = have_band ? sprintf("'%s' index 1 using 1:2", report) \
                         : sprintf("'%s' skip 1 index 2 using 1:2", results)
# The plot elements of the data points in the top panel and of the residuals, column 2 or 4: grey
# points, or for a robust fit points coloured by their robust weight and rings for the rejected.
points_of(column_no, titled) = !have_robust ? sprintf("%s with points pointtype 7 pointsize 0.5 \
  linecolor rgb '#808080' %s,", (column_no == 2 ? data_points : \
  sprintf("'%s' index %d using 1:4", report, residual_index)), titled ? "title 'data'" : "notitle") \
  : sprintf("'%s' index %d using 1:(column(5) > 0 ? column(%d) : NaN):5 with points pointtype 7 \
  pointsize 0.6 linecolor palette %s, '%s' index %d using 1:(column(5) == 0 ? column(%d) : NaN) \
  with points pointtype 6 pointsize 1.3 linewidth 1.5 linecolor rgb '#d62728' %s,", report, \
  residual_index, column_no, titled ? "title 'data, by robust weight (grey 1, red 0)'" : "notitle", \
  report, residual_index, column_no, titled ? "title 'rejected'" : "notitle")
set palette defined (0 '#d62728', 0.5 '#ff7f0e', 1 '#808080')
set cbrange [0:1]
unset colorbox
data_plot = points_of(2, 1)
residual_plot = have_report ? points_of(4, 0) : ""

# Panel edges as screen fractions, [top, bottom] for each panel from the top: data, residuals
# (with a report only), first and second derivatives.
if (have_report) {
  page_height = 1200
  array Edge[8] = [0.9, 0.53, 0.515, 0.39, 0.375, 0.225, 0.21, 0.06]
  if (have_scan) {  # the same panels higher up, and the scan's below them
    page_height = 1450
    do for [k = 1:8] { Edge[k] = 0.9 - 0.75 * (0.9 - Edge[k]) }
  }
  if (have_robust) { Edge[1] = Edge[1] - 0.02 }  # room for the key's third row
} else {
  page_height = 1000
  array Edge[8] = [0.93, 0.45, 0, 0, 0.43, 0.27, 0.25, 0.07]
}

if (strstrt(GPVAL_TERMINALS, " pngcairo ") > 0) {
  set terminal pngcairo size 1000,page_height font "sans,11"
} else {
  set terminal png size 1000,page_height
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

# Top: band, data, envelope points, the spline and the knots on it (the value at knot j is
# c[j][0]). With a report the key sits in a row or two above the panel, where it covers no data.
set tmargin at screen Edge[1]
set bmargin at screen Edge[2]
set format x ""
set ylabel "y"
if (have_report) {
  set label 1 Summary at screen 0.5, screen 0.956 center noenhanced
  set key at screen 0.535, screen 0.937 center top horizontal reverse Left box \
      samplen 2 width 2
} else {
  set key top right box opaque
}
plot @band_area \
     @data_plot \
     @envelope_points \
     @spline_curve with lines linewidth 2 linecolor rgb "#1f77b4" title "fitted spline", \
     results skip 1 index 1 using 1:2 with points pointtype 13 pointsize 1.4 \
       linecolor rgb "#d62728" title "knots"
unset label 1

# A derivative that is constant (a straight line, or a parabola's second derivative on one
# interval), or residuals that are all zero, get a range around the value instead of gnuplot's
# warning about an empty range.
half_width(v) = (v == 0) ? 1.0 : 0.1 * abs(v)
# The step of 1, 2 or 5 times a power of ten that is at least w (1 for w = 0).
step_decade(w) = 10.0**floor(log10(w))
step_mantissa(m) = (m <= 1) ? 1 : (m <= 2) ? 2 : (m <= 5) ? 5 : 10
nice_step(w) = (w <= 0) ? 1.0 : step_decade(w) * step_mantissa(w / step_decade(w))
range_file = results
range_index = 2
derivative_range = "stats range_file skip 1 index range_index using column_no nooutput; \
  if (STATS_min == STATS_max) { \
    set yrange [STATS_min - half_width(STATS_min) : STATS_max + half_width(STATS_max)] \
  } else { set autoscale y }"

unset key
if (have_report) {
  set tmargin at screen Edge[3]
  set bmargin at screen Edge[4]
  set ylabel "residual"
  range_file = report
  range_index = residual_index
  column_no = 4
  eval derivative_range
  # About four tick labels whatever the scale, as the panel is low, and short ones (1e-11, not
  # gnuplot's 1x10^-11) so that the label beside them stays on the page.
  stats report index residual_index using 4 nooutput
  set ytics nice_step((STATS_max - STATS_min) / 3)
  set format y "%g"
  plot @residual_plot \
       0 with lines linewidth 1 linecolor rgb "#404040"
  range_file = results
  range_index = 2
  set ytics autofreq
  set format y "% h"
}

set tmargin at screen Edge[5]
set bmargin at screen Edge[6]
set ylabel "dy/dx"
column_no = 3
eval derivative_range
plot results skip 1 index 2 using 1:3 with lines linewidth 2 linecolor rgb "#2ca02c"

set tmargin at screen Edge[7]
set bmargin at screen Edge[8]
# Abscissae far from 0 against their spread (Unix times, say) get their tick labels in full, few
# enough that they do not run into each other.
if (xhi - xlo < 1e-3 * ((abs(xlo) > abs(xhi)) ? abs(xlo) : abs(xhi))) {
  set format x "%.15g"
  set xtics nice_step((xhi - xlo) / 5)
} else {
  set format x "% h"
}
set xlabel "x"
set ylabel "d^2y/dx^2"
column_no = 4
eval derivative_range
plot results skip 1 index 2 using 1:4 with lines linewidth 2 linecolor rgb "#9467bd"

# The knots chosen by the data: the criterion of every J tried, the chosen J ringed.
if (have_report && have_scan) {
  unset arrow
  set tmargin at screen 0.2
  set bmargin at screen 0.05
  stats report index scan_index using 1 nooutput
  set xrange [0 : STATS_max + 1]
  set autoscale y
  set offsets 0, 0, graph 0.06, graph 0.06
  set logscale y
  set format x "% h"
  set format y "%g"
  set xtics autofreq
  set xlabel "J, the number of knot intervals tried"
  set ylabel (fit_knots == 1 ? "GCV" : "GCV, knots counted")
  set key default
  set key inside top right box opaque
  plot report index scan_index using 1:7 with linespoints pointtype 7 pointsize 0.5 \
         linecolor rgb "#555555" title "criterion", \
       report index scan_index using 1:(column(8) == 1 ? column(7) : NaN) with points \
         pointtype 6 pointsize 2.5 linewidth 2 linecolor rgb "#d62728" title "chosen"
  unset logscale y
}

unset multiplot
unset output
set print "-"
print "splinefit.gp: wrote ".picture.", the data points from ".(have_report ? report : results). \
      (have_robust ? ", coloured by their robust weights" : "")
