// The built splinefit in scratch working directories: the runs of tests/data/runs.tsv, the fits
// of tests/golden/ (made by the program) and tests/data/by-hand/, compared byte for byte, and a
// large run on one thread and on three, compared byte for byte.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "Input.hpp"
#include "Splinefit.hpp"

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

struct Outcome {
  int status;
  std::string out, err;
};

// `text` in single quotes for the shell.
std::string shell_quoted(const std::string& text) {
  std::string q = "'";
  for (char ch : text) q += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
  return q + "'";
}

// Runs the program in `work` with standard input empty; `arguments` are passed as they stand,
// `environment` (NAME=VALUE lines) is added to the test's own.
Outcome run_splinefit(const fs::path& work, const std::string& arguments = "",
                      const std::string& environment = "") {
  const fs::path out = work / ".." / "out", err = work / ".." / "err";
  std::string settings;
  std::istringstream lines(environment);
  for (std::string line; std::getline(lines, line);) settings += shell_quoted(line) + " ";
  std::string command = "cd '" + work.string() + "' && env " + settings + "'" SPLINEFIT_EXE "' " +
                        arguments + " </dev/null >'" + out.string() + "' 2>'" + err.string() + "'";
  int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
}

// A fresh scratch directory for the current test, removed when the test passes.
struct Scratch {
  fs::path dir = fs::path(::testing::TempDir()) /
                 ("splinefit-" + std::to_string(getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
  fs::path work = dir / "work";
  Scratch() { fs::remove_all(dir), fs::create_directories(dir); }
  ~Scratch() {
    if (!::testing::Test::HasFailure()) fs::remove_all(dir);
  }
};

// A cell of the table: \n \r \t \\ \xHH escapes, and \{N}c for N copies of the character c
// (which may be an escape).
std::string decode(const std::string& cell) {
  std::string text;
  for (std::size_t k = 0; k < cell.size(); k++) {
    char code = cell[k] == '\\' && k + 1 < cell.size() ? cell[++k] : 0;
    if (code == 'x') {
      text += static_cast<char>(std::stoi(cell.substr(k + 1, 2), nullptr, 16));
      k += 2;
    } else if (code == '{') {
      std::size_t close = cell.find('}', k), count = std::stoul(cell.substr(k + 1, close - k - 1));
      bool escaped = cell[close + 1] == '\\';
      text.append(count, escaped ? decode(cell.substr(close + 1, 2))[0] : cell[close + 1]);
      k = close + 1 + escaped;
    } else {
      text += code == 0     ? cell[k]
              : code == 'n' ? '\n'
              : code == 'r' ? '\r'
              : code == 't' ? '\t'
                            : code;
    }
  }
  return text;
}

// A file's content from its cell: "<rows N>" is a title and N rows of (0.05 i, sin 0.05 i),
// then the rest of the cell; "<garbage>" 4 kB of bytes of no text format; else the cell decoded.
std::string content(const std::string& cell) {
  std::string text = cell == "<garbage>" ? std::string("\177ELF\2\1\1\0", 8) : "";
  for (unsigned k = 0, state = 12345; !text.empty() && k < 4096; k++)
    text += static_cast<char>(((state = state * 1103515245u + 12345u) >> 16) & 0xFF);
  if (!text.empty() || cell.rfind("<rows ", 0) != 0) return text.empty() ? decode(cell) : text;
  text = "Title line\n";
  for (long i = 0, n = std::stol(cell.substr(6)); i < n; i++) {
    char row[64];
    std::snprintf(row, sizeof row, "%.6f %.6f\n", 0.05 * i, std::sin(0.05 * i));
    text += row;
  }
  return text + decode(cell.substr(cell.find('>') + 1));
}

// Every run of the table (status, expectation, then pairs of a file and its content, "args" and
// the command line, or "env" and NAME=VALUE lines), in a directory laid out with the defaults and
// then the run's files ("<none>" removes one, "<dir>" puts a directory in its place, "<link T>" a
// symbolic link to T). Each runs the program, and leaves the output files of output_files that its
// outcome promises.
TEST(Runs, EachEndsWithItsStatusAndMessage) {
  const std::string parameters = "Computational-parameters.dat";
  Scratch scratch;
  const fs::path& work = scratch.work;
  std::ifstream table(fs::path(TEST_DATA) / "runs.tsv");
  std::string line;
  for (int number = 1; std::getline(table, line); number++) {
    if (line.empty() || line[0] == '#') continue;
    SCOPED_TRACE("tests/data/runs.tsv, line " + std::to_string(number));
    std::vector<std::string> cells;
    for (std::size_t at = 0, tab = 0; tab != std::string::npos; at = tab + 1)
      cells.push_back(line.substr(at, (tab = line.find('\t', at)) - at));
    const int status = std::stoi(cells[0]);
    const std::string expected = decode(cells[1]);
    std::map<std::string, std::string> files = {
        {"Control.dat", "data/ run1 1 2 0 2 3 2\n"},
        {"Computational-parameters.dat", "P\n2 Nout\n6 Precision\n1e-8\n1 Envelope\n100 Nmax\n"},
        {"data/run1.dat", "Title\n0 0\n1 1\n2 4\n3 9\n4 16\n5 25\n6 36\n"}};
    std::string arguments, environment;
    for (std::size_t k = 2; k + 1 < cells.size(); k += 2) {
      (cells[k] == "args"  ? arguments
       : cells[k] == "env" ? environment
                           : files[cells[k]]) = cells[k + 1];
    }
    fs::remove_all(work);
    fs::create_directories(work / "data");
    for (const auto& [name, cell] : files) {
      if (cell == "<dir>") fs::create_directories(work / name);
      if (cell.starts_with("<link "))
        fs::create_symlink(cell.substr(6, cell.size() - 7), work / name);
      if (cell != "<none>" && cell != "<dir>" && !cell.starts_with("<link "))
        std::ofstream(work / name, std::ios::binary) << content(cell);
    }
    Outcome o = run_splinefit(work, arguments, decode(environment));
    EXPECT_EQ(o.status, status) << o.err.substr(0, 300);
    // A complete run writes every file it wants; an answer to the command line and a refused
    // environment write none; any other run none of the fit's, and Control.plt if it got so far.
    const bool fitted = status == 0 && arguments.empty();
    const bool nothing = !arguments.empty() || (status == 2 && expected.starts_with("SPLINEFIT_"));
    const RunControl data_set{"data/", "run1"};
    ComputationalParameters cp;
    if (fitted) cp = parse_computational_parameters(content(files[parameters]), parameters);
    for (const OutputFileKind& kind : output_files) {
      if (&kind == &output_files[plot_control_output] && !fitted && !nothing) continue;
      EXPECT_EQ(fs::is_regular_file(work / output_name(kind, data_set)), fitted && writes(kind, cp))
          << output_name(kind, data_set);
    }
    if (status == 2) {  // one line, or with the usage text after it
      EXPECT_EQ(o.out.find("Press enter key"), std::string::npos);
      EXPECT_EQ(o.err.substr(0, 11 + expected.size()), "splinefit: " + expected);
      EXPECT_EQ(o.err.find('\n'), arguments.empty() ? o.err.size() - 1 : o.err.find("\n\n"));
      continue;
    }
    const bool warns = expected.find("stderr:") != std::string::npos;
    for (std::size_t at = 0, end = 0; end != std::string::npos; at = end + 4) {  // " && " parts
      const std::string part = expected.substr(at, (end = expected.find(" && ", at)) - at);
      std::size_t colon = part.find(':');
      std::string where = part.substr(0, colon), text = part.substr(colon + 1);
      std::string seen = where == "stdout"            ? o.out
                         : where == "stderr"          ? o.err
                         : colon != std::string::npos ? slurp(work / where)
                                                      : text;
      EXPECT_NE(seen.find(text), std::string::npos) << where << " lacks " << text.substr(0, 99);
    }
    EXPECT_TRUE(status != 0 || !arguments.empty() || warns || o.err.empty()) << o.err;
    std::istringstream err(o.err);  // a warning: one line of at most 210 characters
    for (std::string l; std::getline(err, l);)
      EXPECT_LE(l.starts_with("splinefit") * l.size(), 210u) << l;
  }
}

// The regular files below root, as paths relative to it.
std::set<std::string> files_below(const fs::path& root) {
  std::set<std::string> names;
  if (!fs::exists(root)) return names;  // a new case has no expected files yet
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file()) names.insert(fs::relative(entry.path(), root).generic_string());
  return names;
}

class Fit : public ::testing::TestWithParam<std::string> {};

// The run creates exactly the expected files, each byte for byte, and the expected console text
// and warnings. With SPLINEFIT_UPDATE_GOLDEN set, a golden case's expected files are written anew
// from the run instead (for an intended change of output only).
TEST_P(Fit, ReproducesEveryOutputByteForByte) {
  Scratch scratch;
  const fs::path source = GetParam(), &work = scratch.work;
  fs::copy(source / "input", work, fs::copy_options::recursive);
  Outcome o = run_splinefit(work);
  EXPECT_EQ(o.status, 0);
  std::set<std::string> expected = files_below(source / "expected"), created = files_below(work);
  for (const std::string& name : files_below(source / "input")) created.erase(name);
  if (std::getenv("SPLINEFIT_UPDATE_GOLDEN") && source.parent_path() == fs::path(GOLDEN_DIR)) {
    fs::remove_all(source / "expected");  // an intended change of output: keep the new one
    for (const std::string& name : created)
      fs::create_directories((source / "expected" / name).parent_path()),
          fs::copy_file(work / name, source / "expected" / name);
    std::ofstream(source / "expected" / "console.txt", std::ios::binary) << o.out;
    if (!o.err.empty())
      std::ofstream(source / "expected" / "stderr.txt", std::ios::binary) << o.err;
    GTEST_SKIP() << "wrote the expected files";
  }
  EXPECT_EQ(o.err, slurp(source / "expected" / "stderr.txt"));  // the warnings, if any
  EXPECT_EQ(o.out, slurp(source / "expected" / "console.txt"));
  expected.erase("console.txt"), expected.erase("stderr.txt");
  EXPECT_EQ(created, expected);
  for (const std::string& name : expected) {
    std::string want = slurp(source / "expected" / name), got = slurp(work / name);
    std::size_t at =
        std::mismatch(want.begin(), want.end(), got.begin(), got.end()).first - want.begin();
    EXPECT_TRUE(want == got) << name << " differs from byte " << at << ": " << want.substr(at, 60);
  }
}

std::vector<std::string> fit_cases() {
  std::vector<std::string> cases;
  for (const fs::path& root : {fs::path(GOLDEN_DIR), fs::path(TEST_DATA) / "by-hand"})
    for (const auto& entry : fs::directory_iterator(root))
      if (fs::is_directory(entry.path() / "input")) cases.push_back(entry.path().string());
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Cases, Fit, ::testing::ValuesIn(fit_cases()),
                         [](const ::testing::TestParamInfo<std::string>& case_info) {
                           std::string name = fs::path(case_info.param).filename().string();
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

using Files = std::map<std::string, std::string>;  // names below a directory, and contents

// The files a run created below `work` (its inputs left out), with their contents.
Files created_files(const fs::path& work, const Files& inputs) {
  Files created;
  for (const std::string& name : files_below(work))
    if (!inputs.contains(name)) created[name] = slurp(work / name);
  return created;
}

// 10^5 points in no order, pairs of them at equal abscissae, on the best of 1 to 50 intervals with
// a table of up to 50,001 rows: a file large enough to be read in chunks, sorted, solved and
// formatted on several threads. Every output file, the console and standard error hold the same
// bytes on one thread as on three.
TEST(Threads, OneAndThreeThreadsWriteTheSameBytes) {
  Scratch scratch;
  std::string data = "10^5 points of a noisy sine, unsorted\n";
  for (unsigned i = 0, noise = 1; i < 100000; i++) {
    noise = noise * 1103515245u + 12345u;
    const double x = static_cast<double>(i * 7919u % 50000u) * 0.002;
    char row[64];
    std::snprintf(row, sizeof row, "%.9g %.9g\n", x, std::sin(x) + (noise >> 16) * 1e-6);
    data += row;
  }
  const Files inputs = {{"Control.dat", "data/ run1 1 2 0 2 3 50\n"},
                        {"Computational-parameters.dat",
                         "P\n1000 Nout\n9\n1e-8\n1 Envelope\n100002\n1 Method\n0\n1 Knots\n"},
                        {"data/run1.dat", data}};
  std::map<std::string, Files> files;
  std::map<std::string, Outcome> outcome;
  for (const std::string threads : {"1", "3"}) {
    const fs::path work = scratch.dir / ("threads-" + threads);
    fs::create_directories(work / "data");
    for (const auto& [name, text] : inputs) std::ofstream(work / name, std::ios::binary) << text;
    outcome[threads] = run_splinefit(work, "", "SPLINEFIT_THREADS=" + threads);
    files[threads] = created_files(work, inputs);
  }
  EXPECT_EQ(outcome["1"].status, 0) << outcome["1"].err;
  EXPECT_EQ(outcome["3"].status, 0) << outcome["3"].err;
  EXPECT_EQ(outcome["1"].out, outcome["3"].out);
  EXPECT_EQ(outcome["1"].err, outcome["3"].err);
  EXPECT_EQ(files["1"].size(), std::size(output_files));
  for (const auto& [name, text] : files["1"])
    EXPECT_TRUE(files["3"][name] == text) << name << " differs between 1 and 3 threads";
}

// The README shows the bundled example's Control.dat and parameter file as they begin and the
// head of the report that it writes, and names every setting the program reads and every
// statistic of the report in its tables, in the program's order.
TEST(Readme, ShowsTheBundledExampleAsItIsAndEveryName) {
  Scratch scratch;
  fs::copy(fs::path(GOLDEN_DIR) / "../../examples/automatic", scratch.work,
           fs::copy_options::recursive);
  ASSERT_EQ(run_splinefit(scratch.work).status, 0);
  std::istringstream readme(slurp(fs::path(GOLDEN_DIR) / "../../README.md"));
  std::vector<std::string> shown;  // the indented blocks after "The bundled example's:"
  std::string tables, line;
  for (bool in_block = false; std::getline(readme, line);) {
    if (line.starts_with("|")) tables += line + "\n";
    if (in_block && !line.empty() && !line.starts_with("    ")) in_block = false;
    if (in_block && line.starts_with("    ")) shown.back() += line.substr(4) + "\n";
    if (line.ends_with("example's:")) in_block = true, shown.emplace_back();
  }
  ASSERT_EQ(shown.size(), 3u);
  const std::string report = slurp(scratch.work / "data/damped.fit");
  EXPECT_TRUE(slurp(scratch.work / "Control.dat").starts_with(shown[0])) << shown[0];
  EXPECT_TRUE(slurp(scratch.work / "Computational-parameters.dat").starts_with(shown[1]));
  EXPECT_TRUE(report.starts_with(shown[2])) << report.substr(0, 600);
  std::vector<std::string> names;
  for (const Setting& s : control_settings) names.push_back(s.name);
  for (const Setting& s : parameter_settings) names.push_back(s.name);
  std::istringstream head(report.substr(0, report.find("\n\n\n")));
  std::getline(head, line);  // the title
  while (std::getline(head, line))
    if (!line.starts_with("#")) names.push_back(line.substr(0, line.find('\t')));
  for (std::size_t at = 0; const std::string& name : names)
    EXPECT_NE(at = tables.find("`" + name + "`", at), std::string::npos) << name;
}

// The knots that the data chose (Knots 1 and 2), read back from <Path><Inputfile>-fit.knots as
// the knots file with J 0, Knots 0 and Method 1, give the same results file byte for byte.
TEST(ChosenKnots, ReadBackAsTheKnotsFileGiveTheSameResults) {
  Scratch scratch;
  const fs::path data = scratch.work / "data";
  for (const std::string knots : {"1", "2"}) {
    fs::remove_all(scratch.work);
    fs::copy(fs::path(GOLDEN_DIR) / "../../examples/automatic", scratch.work,
             fs::copy_options::recursive);
    const std::string parameters = slurp(scratch.work / "Computational-parameters.dat");
    std::ofstream(scratch.work / "Control.dat") << "data/ damped 1 2 0 3 3 40\n";
    std::ofstream(scratch.work / "Computational-parameters.dat") << parameters << "1\n0\n"
                                                                 << knots << " Knots\n";
    ASSERT_EQ(run_splinefit(scratch.work).status, 0) << knots;
    const std::string chosen = slurp(data / "damped.res");
    fs::rename(data / "damped-fit.knots", data / "damped.knots");
    std::ofstream(scratch.work / "Control.dat") << "data/ damped 1 2 0 3 3 0\n";
    std::ofstream(scratch.work / "Computational-parameters.dat") << parameters << "1\n0\n0\n";
    ASSERT_EQ(run_splinefit(scratch.work).status, 0) << knots;
    EXPECT_TRUE(slurp(data / "damped.res") == chosen) << "Knots " << knots;
  }
}

}  // namespace
