// Malformed and hostile inputs for the built splinefit program: every kind of refusal, missing
// or misplaced files, binary and huge files, and spellings that must change nothing. A refused
// run ends with status 2, one line on standard error and no results or envelope file.
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "program_run.hpp"

namespace {

using Hostile = ProgramRun;

const std::string bom = "\xEF\xBB\xBF";

// Rows of (0.05 i, sin 0.05 i) with six decimals.
std::string rows(int count) {
  std::string text;
  for (int i = 0; i < count; i++) {
    char row[64];
    std::snprintf(row, sizeof row, "%.6f %.6f\n", 0.05 * i, std::sin(0.05 * i));
    text += row;
  }
  return text;
}

// One input file replaced (and, for two-file faults, a second one); a knots file implies J = 0.
struct Refusal {
  const char* what;
  std::string Inputs::*file;
  std::string text, message;
  std::string Inputs::*file2 = nullptr;
  std::string text2 = "";
};

// The messages are the README's sentence format; the values are those written in the inputs.
TEST_F(Hostile, EveryMalformedInputIsRefusedWithOneLineNamingFileLineAndValue) {
  const auto control = &Inputs::control, parameters = &Inputs::parameters, data = &Inputs::data,
             knots = &Inputs::knots;
  auto params = [](const std::string& nout, const std::string& precision, const std::string& crit,
                   const std::string& nmax) {
    return "P\n" + nout + "\n" + precision + "\n" + crit + "\n1 Envelope\n" + nmax + "\n";
  };
  const std::string hint = "write decimals with a point and separate values with whitespace.";
  const Refusal cases[] = {
      {"empty Control.dat", control, "",
       "splinefit: Control.dat: Path (the data directory) is missing (the file ends before it).\n"},
      {"M above 3", control, "data/ run1 1 2 0 2 4 2",
       "Control.dat, line 1: M (the degree) is 4; it must be 2 or 3."},
      {"ii below 2", control, "data/ run1 1 1 0 1 3 2", "Control.dat, line 1: ii "},
      {"ix beyond ii", control, "data/ run1 3 2 0 2 3 2", "ix is 3; it must be from 1 to ii = 2"},
      {"iy of 0", control, "data/ run1 1 0 0 2 3 2", "iy is 0"},
      {"negative iw", control, "data/ run1 1 2 -1 2 3 2", "iw is -1"},
      {"a missing J", control, "data/ run1\n1 2 0 2 3\n",
       "Control.dat: J is missing (the file ends before it)."},
      {"a word for a number", control, "data/ run1 1 2 zero 2 3 2",
       "iw is not a whole number (found \"zero\")"},
      {"ix beyond int", control, "data/ run1 99999999999 2 0 2 3 2",
       "Control.dat, line 1: ix is out of range (found \"99999999999\")."},
      {"commas between items", control, "data/ run1 1,2,0,2,3,2\n",
       "Control.dat, line 1: ix is followed by a comma (found \"1,2,0,2,3,2\")"},
      {"J above the machine limit", control, "data/ run1 1 2 0 2 3 1001",
       "Control.dat, line 1: J is 1001; automatic knot placement allows at most 1000 intervals."},
      {"J of 2N", control, "data/ run1 1 2 0 2 3 14",
       "J is 14, too many intervals for the 7 data points"},
      {"ii of 2^31 - 1", control, "data/ run1 1 2 0 2147483647 3 2",
       "data/run1.dat, line 2: the row holds 2 numbers where ii = 2147483647 are needed."},
      {"empty parameter file", parameters, "",
       "splinefit: Computational-parameters.dat: Nout is missing (the file ends before it).\n"},
      {"Nout of 0", parameters, params("0", "6", "1e-8", "100"),
       "Computational-parameters.dat, line 2: Nout"},
      {"Precision of 0", parameters, params("5", "0", "1e-8", "100"), "line 3: Precision is 0"},
      {"Precision of 100", parameters, params("5", "100", "1e-8", "100"), "Precision is 100"},
      {"a text line between values", parameters, "P\n5\nnote\n6\n1e-8\n1\n100\n",
       "line 3: Precision is not a whole number (found \"note\")"},
      {"negative criterion", parameters, params("5", "6", "-1e-8", "100"), "line 4: criterion"},
      {"criterion 1e999", parameters, params("2", "6", "1e999", "100"),
       "Computational-parameters.dat, line 4: criterion is inf; it must be a finite number not "
       "below 0."},
      {"criterion -nan", parameters, params("2", "6", "-nan", "100"), "line 4: criterion is -nan;"},
      {"a decimal comma in the criterion", parameters, params("2", "6", "1,5e-8", "100"),
       "Computational-parameters.dat, line 4: criterion is followed by a comma (found "
       "\"1,5e-8\"); " +
           hint},
      {"Nmax of 2", parameters, params("2", "6", "1e-8", "2 Nmax"),
       "Computational-parameters.dat, line 6: Nmax is 2; it must be at least 3 (a data file may "
       "hold at most Nmax - 2 rows)."},
      {"Nmax of -2^31", parameters, params("2", "6", "1e-8", "-2147483648"),
       "line 6: Nmax is -2147483648; it must be at least 3"},
      {"Nmax of 2^31", parameters, params("2", "6", "1e-8", "2147483648"),
       "line 6: Nmax is out of range (found \"2147483648\")."},
      {"Nout of 2^31 - 1", parameters, params("2147483647", "6", "1e-8", "100"),
       "Computational-parameters.dat: Nout 2147483647 with 2 intervals makes a results table of "
       "4294967295 rows; at most 10000000 are allowed."},
      {"empty data file", data, "",
       "splinefit: data/run1.dat: holds no data rows after its title line.\n"},
      {"a title and blank lines only", data, "Title only\n\n\n", "run1.dat: holds no data rows"},
      {"a row short of numbers", data, "T\n1 2\n3\n4 5\n",
       "run1.dat, line 3: the row holds 1 number where ii = 2 are needed"},
      {"a word in a row", data, "T\n1 2\n3 abc\n4 5\n",
       "line 3: column 2 is not a number (found \"abc\")"},
      {"1e999 in a row", data, "T\n0 0\n1e999 1\n2 2\n",
       "data/run1.dat, line 3: column 1 is not a finite number (found \"1e999\")."},
      {"-nan in a row", data, "T\n0 0\n1 -nan\n2 2\n",
       "data/run1.dat, line 3: column 2 is not a finite number (found \"-nan\")."},
      {"infinity in a row", data, "T\n0 0\n1 2\ninfinity 2\n",
       "line 4: column 1 is not a finite number"},
      {"a decimal comma in a row", data, "T\n0 0\n1,5 2\n2 3\n",
       "data/run1.dat, line 3: column 1 is followed by a comma"},
      {"ordinates whose squares overflow", data, "T\n0 1e200\n1 0\n2 1e200\n",
       "data/run1.dat: the ordinates are too large for the fit: the sum of their squares "
       "overflows."},
      {"abscissae whose span overflows", data, "T\n-1e308 0\n0 1\n1e308 0\n",
       "data/run1.dat: the abscissae are too far apart for the fit: the power 3 of their span "
       "overflows."},
      {"points all at one abscissa", data, "T\n2 0\n2 1\n2 5\n2 -1\n",
       "data/run1.dat: all 4 points lie at the abscissa 2; a spline needs points at two "
       "different abscissae at least.",
       control, "data/ run1 1 2 0 2 3 1"},
      {"points all at one abscissa, knots from a file", data, "T\n2 0\n2 1\n2 5\n2 -1\n",
       "data/run1.dat: all 4 points lie at the abscissa 2;", knots, "Knots\n0\n4\n"},
      {"a single point", data, "T\n7 3\n", "data/run1.dat: its only point lies at the abscissa 7;",
       control, "data/ run1 1 2 0 2 3 1"},
      {"a knots file of its heading alone", knots, "\n",
       "splinefit: data/run1.knots: holds 0 knots; at least 2 are needed.\n"},
      {"one knot", knots, "Knots\n0.5\n", "run1.knots: holds 1 knot;"},
      {"a knot below the one before, after a repeated knot", knots, "K\n0\n0.5\n1\n1\n1.5\n1\n",
       "data/run1.knots, line 7: the knot \"1\" is below the knot before it"},
      {"all knots equal", knots, "Knots\n1\n1\n1\n",
       "data/run1.knots: all its knots are equal; the last knot must lie above the first."},
      {"a 1e999 knot", knots, "K\n0\n1e999\n",
       "data/run1.knots, line 3: the knot is not a finite number (found \"1e999\")."},
      {"a -nan knot", knots, "K\n-nan\n1\n",
       "line 2: the knot is not a finite number (found \"-nan\")."},
      {"a decimal comma in a knot", knots, "K\n0\n2,5\n6\n",
       "data/run1.knots, line 3: the knot is followed by a comma (found \"2,5\"); " + hint},
  };
  for (const Refusal& k : cases) {
    Inputs in;
    in.*k.file = k.text;
    if (k.file2) in.*k.file2 = k.text2;
    if (!in.knots.empty()) in.control = "data/ run1 1 2 0 2 3 0";
    expect_refused(run(in), k.message, k.what);
  }
}

TEST_F(Hostile, MissingUnreadableAndUnwritableFilesAreNamed) {
  const std::string missing = ": cannot be opened for reading: No such file or directory.\n";
  expect_refused(run(), "splinefit: Control.dat" + missing, "no Control.dat");
  write("Control.dat", "nowhere/ run1 1 2 0 2 3 2");
  expect_refused(run(), "splinefit: Computational-parameters.dat" + missing, "no parameters");
  Inputs in;
  in.control = "missing/directory/ run1 1 2 0 2 3 2";
  expect_refused(run(in), "splinefit: missing/directory/run1.dat" + missing, "no directory");
  in.control = "data/ run1 1 2 0 2 3 -5";  // J negative and no knots file
  expect_refused(run(in), "splinefit: data/run1.knots" + missing, "no knots file");
  lay_out(in);
  write("data/run1.knots", "");  // zero bytes: the heading line is missing too
  expect_refused(run(), "data/run1.knots: holds 0 knots; at least 2 are needed.", "zero bytes");

  // Directories in place of the inputs, then of the outputs.
  for (const char* name : {"data/run1.dat", "data/run1.knots", "Control.dat"}) {
    lay_out(in);
    fs::remove(path(name));
    fs::create_directory(path(name));
    expect_refused(run(), "splinefit: " + std::string(name) + ": cannot be read: Is a directory.\n",
                   name);
  }
  // Unwritable outputs: the fit runs, then the one line; the other output is not left behind.
  for (const char* name : {"data/run1.res", "data/run1-1.dat"}) {
    lay_out(Inputs());
    fs::create_directory(path(name));
    Outcome o = run();
    EXPECT_EQ(o.status, 2) << name;
    EXPECT_EQ(o.err, "splinefit: " + std::string(name) + ": cannot be created: Is a directory.\n");
    EXPECT_FALSE(fs::is_regular_file(path("data/run1.res")) ||
                 fs::is_regular_file(path("data/run1-1.dat")));
  }
}

TEST_F(Hostile, AnUnreadableDataFileIsNamed) {
  lay_out(Inputs());
  ASSERT_EQ(chmod(path("data/run1.dat").c_str(), 0), 0);
  if (access(path("data/run1.dat").c_str(), R_OK) == 0)
    GTEST_SKIP() << "mode 000 does not stop this user (root) from reading the file";
  expect_refused(run(),
                 "splinefit: data/run1.dat: cannot be opened for reading: Permission denied.\n",
                 "mode 000");
}

// Bytes of no text format: the start of an executable's header, NUL bytes, control characters
// and bytes above 0x7F, with a few line breaks.
TEST_F(Hostile, BinaryGarbageInAnyInputFileIsRefused) {
  std::string garbage(
      "\x7F"
      "ELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00",
      16);
  unsigned state = 12345;
  for (int i = 0; i < 4096; i++) {
    state = state * 1103515245u + 12345u;
    garbage += static_cast<char>((state >> 16) & 0xFF);
  }
  const std::pair<std::string Inputs::*, std::string> cases[] = {
      {&Inputs::control, "Control.dat, line 1: Path (the data directory) holds a NUL byte."},
      {&Inputs::parameters, "splinefit: Computational-parameters.dat, line "},
      {&Inputs::data, "splinefit: data/run1.dat, line "},
      {&Inputs::knots, "splinefit: data/run1.knots, line "}};
  for (const auto& [file, message] : cases) {
    Inputs in;
    in.*file = garbage;
    if (file == &Inputs::knots) in.control = "data/ run1 1 2 0 2 3 0";
    expect_refused(run(in), message, message);
  }
}

TEST_F(Hostile, TenMegabyteLinesAreReadWholeOrRefusedClearly) {
  const std::string huge(10 * 1024 * 1024, '1');
  Inputs in;
  in.control = huge;  // one item: the Path, and nothing after it
  expect_refused(run(in), "Control.dat: Inputfile (the data set name) is missing", "one item");
  in.control = huge + " run1 1 2 0 2 3 2\n";
  expect_refused(run(in),
                 "Control.dat, line 1: Path and Inputfile make file names of 10485770 characters; "
                 "at most 4095 are allowed.",
                 "a Path of 10 MB");
  in = Inputs();
  in.data = huge;  // a title line alone, without a line break
  expect_refused(run(in), "data/run1.dat: holds no data rows after its title line.", "title only");
  in.data = "Title\n" + huge + " 2\n" + rows(10);  // one number of ten million digits
  expect_refused(run(in),
                 "data/run1.dat, line 2: column 1 is not a finite number "
                 "(found \"111111111111111111111111...\").",
                 "a 10 MB number");
}

// Inputs that are odd but valid: the fit goes on.
TEST_F(Hostile, OddButValidInputsAreFitted) {
  const std::string huge(10 * 1024 * 1024, '1');
  Inputs text;  // free text of any length after the values is skipped
  text.data = "Title\n" + rows(5) + "9 9 " + std::string(10 * 1024 * 1024, 'x') + "\n" + rows(3);
  text.parameters = std::string(10 * 1024 * 1024, 'P') + "\n2\n6\n1e-8\n1\n100 " + huge + "\n";
  text.control = "data/ run1 1 2 0 2 3 0 " + huge;
  text.knots = huge + "\n0\n1\n9 " + huge + "\n";
  expect_fitted(run(text), "10 MB of free text in every file");

  Inputs commas;  // a comma followed by text is free text
  commas.control = "data/ run1 1 2 0 2 3 0";
  commas.knots = "K\n0, first\n2.5, second\n6\n";
  commas.parameters = "P\n2, rows\n6, digits\n1e-8, tolerance\n1\n100\n";
  expect_fitted(run(commas), "commas before free text");

  Inputs nmax;
  nmax.parameters = "P\n2\n6\n1e-8\n1\n2147483647 Nmax\n";
  expect_fitted(run(nmax), "Nmax 2^31 - 1");

  const std::string title(10000, 'T');  // kept whole on the console and in both files
  Inputs titled;
  titled.data = title + "\n" + rows(20);
  Outcome o = run(titled);
  expect_fitted(o, "long title");
  EXPECT_EQ(o.out.rfind("\n" + title + "\n\nIterations in optimisation:", 0), 0u);
  EXPECT_EQ(read("data/run1.res").rfind(title + "\n\n# Data points\n", 0), 0u);
  EXPECT_EQ(read("data/run1-1.dat").rfind(title + " envelope curve calculations\n", 0), 0u);

  // A repeated knot makes an interval of zero width, which holds no point.
  Inputs repeated;
  repeated.control = "data/ run1 1 2 0 2 3 0";
  repeated.data = "Title\n" + rows(40);
  repeated.knots = "Knots\n0\n0.5\n1\n1\n1.5\n2\n";
  expect_fitted(run(repeated), "repeated knot");
  std::string results = read("data/run1.res");
  EXPECT_NE(results.find("\n#\t5\t3\n"), std::string::npos);
  EXPECT_EQ(results.find("nan"), std::string::npos);
  EXPECT_EQ(results.find("inf"), std::string::npos);
}

// Each line after the first through `edit`.
template <class Edit>
std::string each_row(const std::string& text, Edit edit) {
  std::size_t first = text.find('\n') + 1;
  std::string out = text.substr(0, first);
  for (std::size_t at = first, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
    out += edit(text.substr(at, end - at));
  return out;
}

// Spellings of the same settings, knots and data give byte-identical output: byte-order marks,
// mixed line ends, tabs, items across lines, text glued to values, other C spellings of the same
// doubles (decimal, hexadecimal, 600 digits), extra columns, blank lines, no final line break.
TEST_F(Hostile, EquivalentSpellingsOfTheInputGiveIdenticalResults) {
  Inputs plain;
  plain.control = "data/ run1 1 2 0 2 3 0\n";
  plain.data = "Title\n" + rows(30);
  plain.knots = "Knots\n0\n0.5\n1\n1.45\n";
  Outcome o = run(plain);
  ASSERT_EQ(o.status, 0) << o.err;
  const std::string results = read("data/run1.res"), envelope = read("data/run1-1.dat");
  ASSERT_EQ(results.rfind("Title\n\n# Data points\n", 0), 0u);

  auto mixed = [](const std::string& text) {  // every other LF becomes CR LF, every fifth CR
    std::string out;
    int n = 0;
    for (char ch : text)
      out += ch != '\n' ? std::string(1, ch) : ++n % 5 == 0 ? "\r" : n % 2 == 0 ? "\r\n" : "\n";
    return out;
  };
  auto tabs = [](std::string text) {
    for (char& ch : text)
      if (ch == ' ') ch = '\t';
    return text;
  };
  auto hexadecimal = [](const std::string& row) {  // the same doubles in "%a"
    char* rest;
    double a = std::strtod(row.c_str(), &rest), b = std::strtod(rest, nullptr);
    char out[96];
    std::snprintf(out, sizeof out, "%a %A\n", a, b);
    return std::string(out);
  };
  char criterion[32];
  std::snprintf(criterion, sizeof criterion, "%a", 1e-8);
  struct Variant {
    const char* what;
    Inputs in;
  };
  std::vector<Variant> variants;
  Inputs all = plain;
  for (int file = 0; file < 4; file++) {
    Inputs in = plain;
    for (Inputs* one : {&in, &all}) {
      std::string* texts[] = {&one->control, &one->parameters, &one->data, &one->knots};
      *texts[file] = bom + *texts[file];
    }
    variants.push_back({"a byte-order mark", in});
  }
  variants.push_back({"byte-order marks in every file", all});
  variants.push_back(
      {"mixed line ends",
       {mixed(plain.control), mixed(plain.parameters), mixed(plain.data), mixed(plain.knots)}});
  variants.push_back({"tabs",
                      {tabs(plain.control), "Parameters\n2\tNout\n6\tPrecision\n1e-8\t\n1\n100\n",
                       tabs(plain.data), "Knots\n\t0\n0.5\t\n1\n\t1.45\t\n"}});
  const std::string rest = plain.data, knots = plain.knots;
  variants.push_back(
      {"items on many lines",
       {"data/\nrun1\n1\n2\n0\n2\n3\n0\ntrailing text\n", plain.parameters, rest, knots}});
  variants.push_back({"text glued to values and blank lines before them",
                      {plain.control,
                       "Parameters\n\n\n2digits\n6digits of precision\n1.0E-8tolerance\n1\tenvelope"
                       "\n100 rows at most\n",
                       rest, knots}});
  variants.push_back(
      {"criterion in decimals", {plain.control, "P\n2\n6\n0.00000001\n1\n100\n", rest, knots}});
  variants.push_back({"hexadecimal numbers",
                      {plain.control, "P\n2\n6\n" + std::string(criterion) + "\n1\n100\n",
                       each_row(rest, hexadecimal), "Knots\n0x0\n0x1p-1\n0X1P0\n1.45\n"}});
  variants.push_back(
      {"a number of 600 digits",
       {plain.control, plain.parameters,
        "Title\n" + rows(2).substr(0, 35) + std::string(600, '0') + " text\n" + rows(30).substr(36),
        knots}});
  variants.push_back(
      {"extra columns and blank lines",
       {plain.control, plain.parameters,
        each_row(rest, [](const std::string& row) { return row + " 99 text\n\n"; }), knots}});
  variants.push_back({"no final line break",
                      {plain.control, plain.parameters, rest.substr(0, rest.size() - 1), knots}});
  for (const Variant& v : variants) {
    Outcome again = run(v.in);
    EXPECT_EQ(again.status, 0) << v.what << ": " << again.err;
    EXPECT_EQ(again.out, o.out) << v.what;
    EXPECT_EQ(read("data/run1.res"), results) << v.what;
    EXPECT_EQ(read("data/run1-1.dat"), envelope) << v.what;
  }
}

// A million rows are read and fitted under a large enough Nmax (the limit itself is checked at
// its boundary in test_program).
TEST_F(Hostile, AMillionRowsAreReadAndFitted) {
  Inputs in;
  in.data = "A million rows\n";
  in.data.reserve(24000000);
  for (int i = 0; i < 1000000; i++) {
    char row[48];
    std::snprintf(row, sizeof row, "%.5f %.4f\n", 1e-5 * i, std::sin(1e-5 * i));
    in.data += row;
  }
  in.control = "data/ run1 1 2 0 2 2 1";
  in.parameters = "P\n2\n6\n1e-8\n0\n1000002 Nmax\n";
  Outcome fitted = run(in);
  ASSERT_EQ(fitted.status, 0) << fitted.err;
  std::string results = read("data/run1.res");
  std::size_t begin = results.find("# Data points\n\n"), end = results.find("\n\n# All spline");
  ASSERT_NE(begin, std::string::npos);
  ASSERT_NE(end, std::string::npos);
  long lines = 0;
  for (std::size_t k = begin; k < end; k++) lines += results[k] == '\n';
  EXPECT_EQ(lines, 1 + 1000000);  // the heading's line break, then one before each row
}

}  // namespace
