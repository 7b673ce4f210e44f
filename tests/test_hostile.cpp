// Hostile inputs for the built splinefit program: empty, binary, huge, oddly spelled or
// misplaced files. Each case states its exit status (2 for a fault in the input, 3 for too many
// rows, 0 where the program fits) and its message; no case may leave a results or envelope file
// behind unless the run completes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Outcome {
  int status;
  std::string out, err;
};

// The four input files of one run; data set data/run1. An empty knots text writes no knots file.
struct Inputs {
  std::string control = "data/ run1 1 2 0 2 3 2\n";
  std::string parameters =
      "Parameters\n2 Nout\n6 Precision\n1e-8 criterion\n1 Envelope\n100 Nmax\n";
  std::string data = "Title\n0 0\n1 1\n2 4\n3 9\n4 16\n5 25\n6 36\n";
  std::string knots;
};

const std::string bom = "\xEF\xBB\xBF";

class Hostile : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::path(::testing::TempDir()) / "splinefit-hostile" / info->name();
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "work" / "data");
  }

  fs::path path(const std::string& name) const { return dir_ / "work" / name; }

  void write(const std::string& name, const std::string& content) const {
    fs::remove_all(path(name));
    std::ofstream(path(name), std::ios::binary) << content;
  }

  std::string read(const std::string& name) const { return slurp(path(name)); }

  bool exists(const std::string& name) const { return fs::exists(path(name)); }

  void lay_out(const Inputs& in) const {
    write("Control.dat", in.control);
    write("Computational-parameters.dat", in.parameters);
    write("data/run1.dat", in.data);
    fs::remove_all(path("data/run1.knots"));
    if (!in.knots.empty()) write("data/run1.knots", in.knots);
    fs::remove_all(path("data/run1.res"));
    fs::remove_all(path("data/run1-1.dat"));
  }

  Outcome run() const {
    std::string command = "cd '" + (dir_ / "work").string() +
                          "' && '" SPLINEFIT_EXE "' </dev/null >'" + (dir_ / "out").string() +
                          "' 2>'" + (dir_ / "err").string() + "'";
    int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(dir_ / "out"), slurp(dir_ / "err")};
  }

  Outcome run(const Inputs& in) const {
    lay_out(in);
    return run();
  }

  // Status 2, nothing on standard output, one line "splinefit: <message>" on standard error
  // that contains `message`, and no results or envelope file.
  void expect_refused(const Outcome& o, const std::string& message, const std::string& what) const {
    EXPECT_EQ(o.status, 2) << what << ": " << o.err;
    EXPECT_EQ(o.out, "") << what;
    EXPECT_EQ(o.err.rfind("splinefit: ", 0), 0u) << what << ": " << o.err;
    EXPECT_NE(o.err.find(message), std::string::npos) << what << ": " << o.err;
    EXPECT_EQ(o.err.find('\n'), o.err.size() - 1) << what << ": " << o.err.substr(0, 300);
    EXPECT_FALSE(exists("data/run1.res")) << what;
    EXPECT_FALSE(exists("data/run1-1.dat")) << what;
  }

  // Status 0, nothing on standard error, a results file that ends with its table and an
  // envelope file.
  void expect_fitted(const Outcome& o, const std::string& what) const {
    EXPECT_EQ(o.status, 0) << what << ": " << o.err.substr(0, 300);
    EXPECT_EQ(o.err, "") << what;
    EXPECT_NE(read("data/run1.res").find("# Computed splines - values and derivatives"),
              std::string::npos)
        << what;
    EXPECT_TRUE(exists("data/run1-1.dat")) << what;
  }

 private:
  static std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  fs::path dir_;
};

// Bytes of no text format: the start of an executable's header, NUL bytes, control characters
// and bytes above 0x7F, with a few line breaks.
std::string binary_garbage() {
  std::string bytes(
      "\x7F"
      "ELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00",
      16);
  unsigned state = 12345;
  for (int i = 0; i < 4096; i++) {
    state = state * 1103515245u + 12345u;
    bytes += static_cast<char>((state >> 16) & 0xFF);
  }
  return bytes;
}

std::string rows(int count) {
  std::string text;
  for (int i = 0; i < count; i++) {
    double t = 0.05 * i;
    char row[64];
    std::snprintf(row, sizeof row, "%.6f %.6f\n", t, std::sin(t));
    text += row;
  }
  return text;
}

TEST_F(Hostile, EmptyInputFilesAreNamedWithWhatIsMissing) {
  struct Case {
    const char* what;
    Inputs in;
    std::string message;
  };
  Inputs empty_control, empty_parameters, empty_data, empty_knots;
  empty_control.control = "";
  empty_parameters.parameters = "";
  empty_data.data = "";
  empty_knots.control = "data/ run1 1 2 0 2 3 0";
  empty_knots.knots = "\n";  // a heading line alone: a file without knots
  const Case cases[] = {
      {"Control.dat", empty_control,
       "splinefit: Control.dat: Path (the data directory) is missing (the file ends before it).\n"},
      {"parameter file", empty_parameters,
       "splinefit: Computational-parameters.dat: Nout is missing (the file ends before it).\n"},
      {"data file", empty_data,
       "splinefit: data/run1.dat: holds no data rows after its title line.\n"},
      {"knots file", empty_knots,
       "splinefit: data/run1.knots: holds 0 knots; at least 2 are needed.\n"},
  };
  for (const Case& k : cases) {
    Outcome o = run(k.in);
    expect_refused(o, "", k.what);
    EXPECT_EQ(o.err, k.message) << k.what;
  }
  // A knots file of zero bytes: the heading line is missing too.
  lay_out(empty_knots);
  write("data/run1.knots", "");
  expect_refused(run(), "data/run1.knots: holds 0 knots; at least 2 are needed.", "zero bytes");
}

TEST_F(Hostile, BinaryGarbageInAnyInputFileIsRefused) {
  const std::string garbage = binary_garbage();
  Inputs in;
  in.control = garbage;
  expect_refused(run(in), "Control.dat, line 1: Path (the data directory) holds a NUL byte.",
                 "Control.dat");
  in = Inputs();
  in.parameters = garbage;
  expect_refused(run(in), "splinefit: Computational-parameters.dat, line ", "parameter file");
  in = Inputs();
  in.data = garbage;
  expect_refused(run(in), "splinefit: data/run1.dat, line ", "data file");
  in = Inputs();
  in.control = "data/ run1 1 2 0 2 3 0";
  in.knots = garbage;
  expect_refused(run(in), "splinefit: data/run1.knots, line ", "knots file");
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

  // Free text of any length after the values is skipped.
  in = Inputs();
  in.data = "Title\n" + rows(5) + "9 9 " + std::string(10 * 1024 * 1024, 'x') + "\n" + rows(3);
  in.parameters = std::string(10 * 1024 * 1024, 'P') + "\n2\n6\n1e-8\n1\n100 " + huge + "\n";
  in.control = "data/ run1 1 2 0 2 3 0 " + huge;
  in.knots = huge + "\n0\n1\n9 " + huge + "\n";
  expect_fitted(run(in), "10 MB of free text in every file");
}

TEST_F(Hostile, ATitleOfTenThousandCharactersIsKeptWhole) {
  const std::string title(10000, 'T');
  Inputs in;
  in.data = title + "\n" + rows(20);
  Outcome o = run(in);
  expect_fitted(o, "long title");
  EXPECT_EQ(o.out.rfind("\n" + title + "\n\nIterations in optimisation:", 0), 0u);
  EXPECT_EQ(read("data/run1.res").rfind(title + "\n\n# Data points\n", 0), 0u);
  EXPECT_EQ(read("data/run1-1.dat").rfind(title + " envelope curve calculations\n", 0), 0u);
}

TEST_F(Hostile, NumbersOutOfRangeOrNotFiniteAreRefused) {
  struct Case {
    const char* what;
    const char* file;  // "control", "parameters", "data" or "knots"
    std::string text, message;
  };
  const std::string p1 = "P\n2\n6\n", p2 = "\n1\n100\n";
  const Case cases[] = {
      {"1e999 in a row", "data", "T\n0 0\n1e999 1\n2 2\n",
       "data/run1.dat, line 3: column 1 is not a finite number (found \"1e999\")."},
      {"-nan in a row", "data", "T\n0 0\n1 -nan\n2 2\n",
       "data/run1.dat, line 3: column 2 is not a finite number (found \"-nan\")."},
      {"inf in a row", "data", "T\n0 0\n1 2\ninfinity 2\n",
       "line 4: column 1 is not a finite number"},
      {"1e999 criterion", "parameters", p1 + "1e999" + p2,
       "Computational-parameters.dat, line 4: criterion is inf; it must be a finite number not "
       "below 0."},
      {"-nan criterion", "parameters", p1 + "-nan" + p2, "line 4: criterion is -nan;"},
      {"1e999 knot", "knots", "K\n0\n1e999\n",
       "data/run1.knots, line 3: the knot is not a finite number (found \"1e999\")."},
      {"-nan knot", "knots", "K\n-nan\n1\n",
       "line 2: the knot is not a finite number (found \"-nan\")."},
      {"ix beyond int", "control", "data/ run1 99999999999 2 0 2 3 2",
       "Control.dat, line 1: ix is out of range (found \"99999999999\")."},
      {"Nmax of 2^31", "parameters", "P\n2\n6\n1e-8\n1\n2147483648\n",
       "line 6: Nmax is out of range (found \"2147483648\")."},
      {"ordinates whose squares overflow", "data", "T\n0 1e200\n1 0\n2 1e200\n",
       "data/run1.dat: the ordinates are too large for the fit: the sum of their squares "
       "overflows."},
      {"abscissae whose span overflows", "data", "T\n-1e308 0\n0 1\n1e308 0\n",
       "data/run1.dat: the abscissae are too far apart for the fit: the power 3 of their span "
       "overflows."},
  };
  for (const Case& k : cases) {
    Inputs in;
    std::string file = k.file;
    if (file == "control") in.control = k.text;
    if (file == "parameters") in.parameters = k.text;
    if (file == "data") in.data = k.text;
    if (file == "knots") {
      in.control = "data/ run1 1 2 0 2 3 0";
      in.knots = k.text;
    }
    expect_refused(run(in), k.message, k.what);
  }
}

// Hexadecimal floating point is a C spelling of a number ("%lf" reads it) and is accepted; a
// number of hundreds of digits is converted whole.
TEST_F(Hostile, HexadecimalAndVeryLongNumbersAreReadAsNumbers) {
  Inputs decimal;
  decimal.data = "T\n0 0\n8 5\n2 0.5\n4 1\n6 3\n";
  decimal.parameters = "P\n2\n6\n0.00048828125\n1\n100\n";
  decimal.control = "data/ run1 1 2 0 2 3 0";
  decimal.knots = "K\n0\n4\n8\n";
  ASSERT_EQ(run(decimal).status, 0);
  const std::string reference = read("data/run1.res");
  EXPECT_NE(reference.find("\n8\t5\n"), std::string::npos);

  Inputs hex = decimal;
  hex.data = "T\n0 0\n0x1p3 5\n2 0x1p-1\n4 0x1P0\n6 3\n";
  hex.parameters = "P\n2\n6\n0x1p-11\n1\n100\n";
  hex.knots = "K\n0x0\n0x4\n0x1p3\n";
  expect_fitted(run(hex), "hexadecimal");
  EXPECT_EQ(read("data/run1.res"), reference);

  Inputs longer = decimal;
  longer.data = "T\n0 0\n8 5.000" + std::string(600, '0') + " text\n2 0.5\n4 1\n6 3\n";
  expect_fitted(run(longer), "600 digits");
  EXPECT_EQ(read("data/run1.res"), reference);
}

// A decimal comma ("1,5") would be read as 1 and the rest as free text; it is refused in every
// file. A comma followed by text is free text.
TEST_F(Hostile, DecimalCommasAreRefusedInEveryFile) {
  const std::string hint = "write decimals with a point and separate values with whitespace.";
  Inputs in;
  in.data = "T\n0 0\n1,5 2\n2 3\n";
  expect_refused(run(in), "data/run1.dat, line 3: column 1 is followed by a comma", "data");
  in = Inputs();
  in.parameters = "P\n2\n6\n1,5e-8\n1\n100\n";
  expect_refused(run(in),
                 "Computational-parameters.dat, line 4: criterion is followed by a comma (found "
                 "\"1,5e-8\"); " +
                     hint,
                 "criterion");
  in = Inputs();
  in.control = "data/ run1 1,2,0,2,3,2\n";
  expect_refused(run(in), "Control.dat, line 1: ix is followed by a comma (found \"1,2,0,2,3,2\")",
                 "Control.dat");
  in = Inputs();
  in.control = "data/ run1 1 2 0 2 3 0";
  in.knots = "K\n0\n2,5\n6\n";
  expect_refused(
      run(in), "data/run1.knots, line 3: the knot is followed by a comma (found \"2,5\"); " + hint,
      "knots");
  in.knots = "K\n0, first\n2.5, second\n6\n";
  in.parameters = "P\n2, rows\n6, digits\n1e-8, tolerance\n1\n100\n";
  expect_fitted(run(in), "commas before free text");
}

// A byte-order mark, CR LF and LF mixed, lone CRs, and tabs change nothing in the results.
TEST_F(Hostile, ByteOrderMarksLineEndsAndTabsGiveIdenticalResults) {
  Inputs plain;
  plain.control = "data/ run1 1 2 0 2 3 0\n";
  plain.parameters = "Parameters\n2 Nout\n6 Precision\n1e-8 criterion\n1 Envelope\n100 Nmax\n";
  plain.data = "Title\n" + rows(30);
  plain.knots = "Knots\n0\n0.5\n1\n1.45\n";
  Outcome o = run(plain);
  ASSERT_EQ(o.status, 0) << o.err;
  const std::string results = read("data/run1.res"), envelope = read("data/run1-1.dat");
  ASSERT_EQ(results.rfind("Title\n\n# Data points\n", 0), 0u);

  auto mixed = [](const std::string& text) {  // every other LF becomes CR LF, every fifth CR
    std::string out;
    int n = 0;
    for (char ch : text) {
      if (ch != '\n') {
        out += ch;
        continue;
      }
      n++;
      out += n % 5 == 0 ? "\r" : n % 2 == 0 ? "\r\n" : "\n";
    }
    return out;
  };
  auto tabs = [](std::string text) {
    for (char& ch : text)
      if (ch == ' ') ch = '\t';
    return text;
  };
  struct Variant {
    const char* what;
    Inputs in;
  };
  std::vector<Variant> variants;
  for (int file = 0; file < 4; file++) {
    Inputs in = plain;
    std::string* texts[] = {&in.control, &in.parameters, &in.data, &in.knots};
    *texts[file] = bom + *texts[file];
    variants.push_back({"a byte-order mark", in});
  }
  Inputs all = plain;
  for (std::string* text : {&all.control, &all.parameters, &all.data, &all.knots})
    *text = bom + *text;
  variants.push_back({"byte-order marks in every file", all});
  variants.push_back(
      {"mixed line ends",
       {mixed(plain.control), mixed(plain.parameters), mixed(plain.data), mixed(plain.knots)}});
  variants.push_back({"tabs",
                      {tabs(plain.control), "Parameters\n2\tNout\n6\tPrecision\n1e-8\t\n1\n100\n",
                       tabs(plain.data), "Knots\n\t0\n0.5\t\n1\n\t1.45\t\n"}});
  for (const Variant& v : variants) {
    Outcome again = run(v.in);
    EXPECT_EQ(again.status, 0) << v.what << ": " << again.err;
    EXPECT_EQ(again.out, o.out) << v.what;
    EXPECT_EQ(read("data/run1.res"), results) << v.what;
    EXPECT_EQ(read("data/run1-1.dat"), envelope) << v.what;
  }
}

TEST_F(Hostile, DirectoriesAndMissingFilesInPlaceOfInputsAreNamed) {
  Inputs in;
  lay_out(in);
  fs::remove(path("data/run1.dat"));
  fs::create_directory(path("data/run1.dat"));
  expect_refused(run(), "splinefit: data/run1.dat: cannot be read: Is a directory.\n", "data");

  in.control = "data/ run1 1 2 0 2 3 -1";
  lay_out(in);
  fs::create_directory(path("data/run1.knots"));
  expect_refused(run(), "splinefit: data/run1.knots: cannot be read: Is a directory.\n", "knots");

  lay_out(Inputs());
  fs::remove(path("Control.dat"));
  fs::create_directory(path("Control.dat"));
  expect_refused(run(), "splinefit: Control.dat: cannot be read: Is a directory.\n", "Control.dat");

  in = Inputs();
  in.control = "missing/directory/ run1 1 2 0 2 3 2";
  expect_refused(run(in),
                 "missing/directory/run1.dat: cannot be opened for reading: No such file or "
                 "directory.",
                 "missing directory");

  in = Inputs();
  in.control = "data/ run1 1 2 0 2 3 -5";  // J negative and no knots file
  expect_refused(run(in),
                 "splinefit: data/run1.knots: cannot be opened for reading: No such file or "
                 "directory.\n",
                 "no knots file");
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

TEST_F(Hostile, NmaxBelowThreeIsRefusedAndTheLargestIntIsAccepted) {
  for (const char* nmax : {"0", "1", "2", "-2147483648"}) {
    Inputs in;
    in.parameters = std::string("P\n2\n6\n1e-8\n1\n") + nmax + " Nmax\n";
    expect_refused(run(in),
                   std::string("Computational-parameters.dat, line 6: Nmax is ") + nmax +
                       "; it must be at least 3 (a data file may hold at most Nmax - 2 rows).",
                   nmax);
  }
  Inputs in;
  in.parameters = "P\n2\n6\n1e-8\n1\n2147483647 Nmax\n";
  expect_fitted(run(in), "Nmax 2^31 - 1");
}

// Settings that would exhaust memory or the disk are refused before anything is allocated.
TEST_F(Hostile, SettingsBeyondTheMachineAreRefusedUpFront) {
  Inputs in;
  in.control = "data/ run1 1 2 0 2 3 100000";
  expect_refused(run(in),
                 "Control.dat, line 1: J is 100000; automatic knot placement allows at most 1000 "
                 "intervals.",
                 "J of 100000");
  in.control = "data/ run1 1 2 0 2 3 1001";
  expect_refused(run(in), "J is 1001;", "J of 1001");
  in.control = "data/ run1 1 2 0 2147483647 3 2";
  expect_refused(run(in),
                 "data/run1.dat, line 2: the row holds 2 numbers where ii = 2147483647 are needed.",
                 "ii of 2^31 - 1");
  in = Inputs();
  in.parameters = "P\n2147483647\n6\n1e-8\n1\n100\n";
  expect_refused(run(in),
                 "Computational-parameters.dat: Nout 2147483647 with 2 intervals makes a results "
                 "table of 4294967295 rows; at most 10000000 are allowed.",
                 "Nout of 2^31 - 1");
}

// Repeated knots make an interval of zero width, which holds no point; the fit goes on. Knots
// that are all equal span nothing and are refused.
TEST_F(Hostile, RepeatedKnotsGiveAnEmptyIntervalAndEqualKnotsAreRefused) {
  Inputs in;
  in.control = "data/ run1 1 2 0 2 3 0";
  in.data = "Title\n" + rows(40);
  in.knots = "Knots\n0\n0.5\n1\n1\n1.5\n1\n";
  expect_refused(run(in), "data/run1.knots, line 7: the knot \"1\" is below the knot before it",
                 "descending");
  in.knots = "Knots\n0\n0.5\n1\n1\n1.5\n2\n";
  Outcome o = run(in);
  expect_fitted(o, "repeated knot");
  std::string results = read("data/run1.res");
  EXPECT_NE(results.find("\n#\t5\t3\n"), std::string::npos);
  EXPECT_EQ(results.find("nan"), std::string::npos);
  EXPECT_EQ(results.find("inf"), std::string::npos);

  in.knots = "Knots\n1\n1\n1\n";
  expect_refused(
      run(in), "data/run1.knots: all its knots are equal; the last knot must lie above the first.",
      "equal knots");
}

TEST_F(Hostile, PointsAllAtOneAbscissaAreRefused) {
  Inputs in;
  in.data = "Title\n2 0\n2 1\n2 5\n2 -1\n";
  in.control = "data/ run1 1 2 0 2 3 1";
  expect_refused(run(in),
                 "data/run1.dat: all 4 points lie at the abscissa 2; a spline needs points at two "
                 "different abscissae at least.",
                 "automatic knots");
  in.control = "data/ run1 1 2 0 2 3 0";
  in.knots = "Knots\n0\n4\n";
  expect_refused(run(in), "data/run1.dat: all 4 points lie at the abscissa 2;", "knots file");
  in.data = "Title\n7 3\n";
  in.control = "data/ run1 1 2 0 2 3 1";
  expect_refused(run(in), "data/run1.dat: its only point lies at the abscissa 7;", "one point");
}

// A million rows: refused with the three lines and status 3 under a small Nmax, fitted under a
// large one.
TEST_F(Hostile, AMillionRowsAreRefusedOverNmaxAndFittedUnderIt) {
  std::string data = "A million rows\n";
  data.reserve(24000000);
  for (int i = 0; i < 1000000; i++) {
    char row[48];
    std::snprintf(row, sizeof row, "%.5f %.4f\n", 1e-5 * i, std::sin(1e-5 * i));
    data += row;
  }
  Inputs in;
  in.data = data;
  Outcome refused = run(in);
  EXPECT_EQ(refused.status, 3);
  EXPECT_EQ(refused.out,
            "\nThe program thinks you have more than 100 data points"
            "\nPlease check your data, or, increase the value in the last row in "
            "Computational-parameters.dat\nPaused: Press a key");
  EXPECT_FALSE(exists("data/run1.res"));

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
