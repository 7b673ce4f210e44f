// Readers of splinefit's input files: Control.dat, Computational-parameters.dat, the data file
// and the knots file. Each parser takes a file's content and its name (for messages) and either
// returns plain values or throws InputError; none touches the model state. All read on the
// calling thread, and every read is bounded: a file without end (a link to /dev/zero) stops the
// run with a message, never with the memory exhausted.
//
// Numbers are read as the C conversions "%d" and "%le" read them: leading whitespace (blank lines
// included, where a value may stand on a later line) is skipped, and the longest prefix that forms
// a number is taken, so "6digits" gives 6 and "1.0E-8tolerance" gives 1e-8; a number directly
// followed by a comma and a digit (a decimal comma, "1,5") is refused. Lines end with LF,
// CR LF or a lone CR; a UTF-8 byte-order mark at the start of a file is ignored. A settings or
// knots file is read whole, up to max_settings_file bytes; a data file is read line by line, each
// line up to data_line_limit(ii) bytes, and only as far as its rows are within Nmax.
#pragma once

#include <array>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "KnotChoice.hpp"
#include "LsqSpline.hpp"

// A fault in an input file or an output file that cannot be written. what() is one sentence
// "<file>[, line <n>]: <what is wrong>." without the program's name.
struct InputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The one way to report such a fault: throws InputError for `file`, naming `line` when it is
// above 0; `what` is the sentence without its full stop.
[[noreturn]] void input_fault(const std::string& file, int line, const std::string& what);

// Reads the number that starts at p (before end) as C's "%le" reads it and stores it in *value;
// returns the end of the number. Refuses, through input_fault naming `what` (followed by the
// column's number when column > 0, "column 3"), a text that is not a number, a number that is
// not finite, and a number directly followed by a comma and a digit (a decimal comma, "1,5").
// A good number costs no text: the name is put together only for the message.
const char* read_finite(const char* p, const char* end, double* value, const std::string& file,
                        int line, const std::string& what, int column = 0);

// The data file holds more rows than the parameter file's Nmax allows (Nmax - 2 at most).
struct TooManyDataRows {
  int Nmax;
};

// Control.dat: Path and Inputfile as whitespace-free items, then six integers, on one line or
// many; anything after the sixth integer is ignored.
struct RunControl {
  std::string Path, Inputfile;
  int ix = 0, iy = 0, iw = 0, ii = 0, M = 0, J = 0;
};

// Computational-parameters.dat: a heading line, then one value at the start of each value line,
// each followed by free text. Method: 0 Powell's fit, 1 the exact least-squares fit. Weights: 0
// the weight column is not used, 1 it holds weights w >= 0 (the fit minimises the sum of w r^2),
// 2 it holds standard deviations sigma > 0 of the ordinates (w = 1 / sigma^2). Knots: 0 J intervals
// or the knots file, 1 the number of intervals chosen by the data (at most J), 2 free knots.
// Robust: 0 least squares, 1 a robust fit with Huber's psi, 2 with Tukey's bisquare.
struct ComputationalParameters {
  int Nout = 0, Precision = 0;
  double criterion = 0.0;
  int Envelope = 0, Nmax = 0;
  lsq::Method Method = lsq::Method::powell;   // the file's 0 and 1
  lsq::Weights Weights = lsq::Weights::none;  // the file's 0, 1 and 2
  lsq::Knots Knots = lsq::Knots::given;       // the file's 0, 1 and 2
  lsq::Robust Robust = lsq::Robust::none;     // the file's 0, 1 and 2
};

// One numeric setting of Control.dat or Computational-parameters.dat: its name, what it means,
// and the values accepted, low..high, stated in words by `rule` (ix, iy and iw are bounded by ii
// instead of `high`). `optional` settings may be left out at the end of their file; they are 0
// then. The parsers, the fuzz harness and splinefit --help all read these tables.
struct Setting {
  const char* name;
  const char* meaning;
  double low, high;
  const char* rule;
  bool at_most_ii = false;
  bool optional = false;
};

// ix, iy, iw, ii, M and J, in the order of Control.dat.
constexpr int control_count = 6;
extern const Setting control_settings[control_count];
// Nout, Precision, criterion, Envelope, Nmax, Method, Weights, Knots and Robust, in the order of
// the parameter file; values_of gives a parsed file's values in the same order.
constexpr int parameter_count = 9;
extern const Setting parameter_settings[parameter_count];
std::array<double, parameter_count> values_of(const ComputationalParameters& cp);

// Whether `value` is accepted by `setting` (ii: the run's ii, for the settings bounded by it).
bool accepts(const Setting& setting, double value, int ii = 0);

// A data file in file order: the title line without its line break, columns ix and iy of every
// row and, for Weights 1 or 2, the weight w of every row (column iw, or 1 / sigma^2 of it). The
// columns are 1-based, row r (from 1) at [r] and [0] unused, so that the model can keep them as
// its arrays (take_points). title_is_a_row: the title line starts with ii finite numbers, as a row
// would.
struct DataFile {
  std::string Title;
  std::vector<double> x, y, w;
  bool title_is_a_row = false;
  std::size_t rows() const { return x.empty() ? 0 : x.size() - 1; }
};

// The most bytes read from Control.dat, the parameter file or the knots file: far above what
// they hold, low enough that a file without end costs no more than a moment's read.
constexpr std::size_t max_settings_file = std::size_t{64} << 20;

// The whole content of a settings or knots file, without a leading UTF-8 byte-order mark.
// InputError when it cannot be opened or read (for example a directory) or holds more than
// max_settings_file bytes.
std::string read_file(const std::string& name);

// Limits of Control.dat. The fit's direction matrix holds (J + M)^2 numbers and Powell's method
// minimises along each of its J + M directions in every iteration, so automatic knot placement
// takes at most max_automatic_intervals intervals (a knots file holds at most 99 knots). File
// names built from Path and Inputfile fit the system's limit of 4095 characters.
constexpr int max_automatic_intervals = 1000;
constexpr int max_knots = 99;  // the most a knots file holds
constexpr std::size_t max_file_name = 4095;

// Parses Control.dat and checks every value against control_settings, and file names of at most
// max_file_name characters.
RunControl parse_run_control(std::string_view text, const std::string& name);

// Parses the parameter file and checks every value against parameter_settings. An optional
// value is 0 when the file ends before it or the next line that is not blank does not begin with
// a whole number.
ComputationalParameters parse_computational_parameters(std::string_view text,
                                                       const std::string& name);

// The longest line of a data file with ii numbers in each row, line break not counted: 16 MiB,
// or 32 bytes for each of the ii numbers (17 significant digits, sign, exponent and a separator)
// when that is more, but never above 256 MiB, the buffer one line may need.
std::size_t data_line_limit(int ii);

// The bytes of the data file read at a time; a longer line grows the buffer up to its limit.
constexpr std::size_t data_read_block = std::size_t{1} << 20;

// Parses the data file's text: line 1 is the title; every further line that is not blank is a row
// of at least ii finite numbers separated by whitespace, then optional text. The lines are taken
// in order and the parse stops at the first that decides the outcome:
//  - TooManyDataRows at row Nmax - 1 (more than Nmax - 2 rows), whatever the rows before hold;
//  - InputError for a line longer than data_line_limit(ii) bytes, or for line INT_MAX + 1 (an
//    end to a file of endless blank lines).
// Otherwise, at the end, InputError for a file without rows, or for the first row that does not
// hold ii finite numbers, or with Weights 1 or 2 (and iw above 0) has a weight below 0 or a
// standard deviation that is not above 0 (or whose 1 / sigma^2 is not a finite positive number).
DataFile parse_data(std::string_view text, const std::string& name, const RunControl& control,
                    int Nmax, lsq::Weights Weights = lsq::Weights::none);

// The same for the data file `name`, read as a stream of data_read_block bytes at a time: what
// parse_data gives for the file's whole content, having read no further than the line that
// decided it. InputError when the file cannot be opened or read.
DataFile read_data(const std::string& name, const RunControl& control, int Nmax,
                   lsq::Weights Weights = lsq::Weights::none);

// Parses the knots file: a heading line, then one knot at the start of every line that is not
// blank. Two to 99 finite knots in non-decreasing order, else InputError. Equal neighbours make
// an interval of zero width, which holds no point.
std::vector<double> parse_knots(std::string_view text, const std::string& name);
