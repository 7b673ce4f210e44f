// The built splinefit's output path under the interruptions of tests/data/interruptions.tsv.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "Splinefit.hpp"

namespace fs = std::filesystem;
using Files = std::vector<std::string>;  // the outputs' contents, then the temporaries' names
// Standard error, then the output files of the data set data/run1, in the order of output_files.
const Files outputs = [] {
  Files names = {"err"};
  for (const OutputFileKind& kind : output_files)
    names.push_back(output_name(kind, RunControl{"data/", "run1"}));
  return names;
}();
// Runs the program in `work`, sends `sig` after `ms` ms (-1: as soon as the results file's
// temporary exists, while the outputs are written), with writes beyond `limit` bytes failing
// ("": no limit); returns the status a shell reports.
int run(const fs::path& work, int sig = 0, int ms = 0, const std::string& limit = "") {
  std::string setting = limit.empty() ? "" : "SPLINEFIT_WRITE_LIMIT=" + limit + " ";
  std::string command = "cd '" + work.string() + "' && " + setting +
                        "exec '" SPLINEFIT_EXE "' </dev/null >/dev/null 2>err";
  pid_t pid = fork();
  if (pid == 0 && signal(SIGINT, SIG_DFL) != SIG_ERR)  // whatever the test inherited
    _exit(execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr)));
  const fs::path results = work / (outputs[1 + results_output] + ".partial-" + std::to_string(pid));
  for (int k = 0; ms < 0 && k < 100000 && !fs::exists(results); k++) usleep(100);
  int raw = (usleep(static_cast<useconds_t>(std::max(ms, 0)) * 1000), sig ? kill(pid, sig) : 0);
  waitpid(pid, &raw, 0);
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}
Files contents(const fs::path& work, bool write_previous_first = false) {
  Files seen;
  for (const std::string& name : outputs) {
    if (write_previous_first) std::ofstream(work / name) << "previous " << name;
    std::ifstream in(work / name, std::ios::binary);
    seen.push_back(in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<none>");
  }
  seen.emplace_back();
  for (const auto& e : fs::recursive_directory_iterator(work))
    if (std::string n = e.path().filename(); n.find(".partial-") < n.size()) seen.back() += n + " ";
  return seen;
}
// N points of a saw tooth, fitted (Envelope 1, Method 1, J of 1 or 2 chosen: every output), and
// the rows of `kind`, kind left out.
struct Case {
  fs::path work;
  Files complete, rows;
  ~Case() { fs::remove_all(work); }
  Case(const std::string& kind, long N)
      : work(fs::path(::testing::TempDir()) / (kind + "-run-" + std::to_string(getpid()))) {
    fs::remove_all(work), fs::create_directories(work / "data");
    std::ofstream(work / "Control.dat") << "data/ run1 1 2 0 2 3 2\n";
    std::ofstream(work / "Computational-parameters.dat") << "P\n2\n6\n1e-8\n1\n"
                                                         << N + 9 << "\n1\n0\n1\n";  // J chosen
    std::string text = "Title\n";  // y: a saw tooth
    for (long i = 0; i < N; i++) text += std::to_string(i) + ' ' + std::to_string(i % 7) + '\n';
    std::ofstream(work / "data/run1.dat") << text;
    EXPECT_EQ(run(work), 0);
    complete = contents(work);
    std::ifstream in(fs::path(TEST_DATA) / "interruptions.tsv");
    for (std::string line; std::getline(in, line);)
      if (line.rfind(kind + "\t", 0) == 0) rows.push_back(line.substr(kind.size() + 1));
  }
};

TEST(Output, AFullDiskKeepsThePreviousFitOutputsByteForByte) {
  Case c("full-disk", 7);
  for (std::size_t k = 1; k < outputs.size(); k++)  // a full disk in every output is a row
    EXPECT_TRUE(std::any_of(c.rows.begin(), c.rows.end(), [&](const std::string& row) {
      return row.find(" " + outputs[k] + ":") != std::string::npos;
    })) << outputs[k];
  for (const std::string& row : c.rows) {
    Files previous = contents(c.work, true);
    std::size_t k = 0, allowed = 0;  // the named output gets no byte, the earlier ones all theirs
    while (k < outputs.size() && row.find(" " + outputs[k] + ":") == std::string::npos)
      allowed += c.complete[k++].size();
    EXPECT_EQ(run(c.work, 0, 0, std::to_string(allowed)), 2);
    if (k > 1) previous[1] = c.complete[1];  // Control.plt, before the full disk, is in place
    EXPECT_EQ(contents(c.work), (previous[0] = row + "\n", previous));
  }
}

TEST(Output, ASignalLeavesThePreviousOrTheCompleteFitOutputs) {
  Case c("signal", 1000000);
  for (const std::string& row : c.rows) {
    Files previous = contents(c.work, true);
    int sig = std::stoi(row), status = run(c.work, sig, std::stoi(row.substr(row.find('\t'))));
    Files seen = contents(c.work);
    bool fresh = std::equal(seen.begin() + 2, seen.end(), c.complete.begin() + 2);
    EXPECT_TRUE(status == 128 + sig || (status == 0 && fresh)) << row << ": " << status;
    EXPECT_TRUE(fresh || std::equal(seen.begin() + 2, seen.end(), previous.begin() + 2)) << row;
    EXPECT_TRUE(seen[1] == previous[1] || seen[1] == c.complete[1]) << row;
  }
}

// Powell's fit of 102 parameters (M 2, J 100) to 100 points with criterion 0 passes its limit of
// 1000 iterations: numerror ends the run with status 1, the program says where to turn, and the
// results of the complete run before it stay as they were.
TEST(Output, ANumericalFailureKeepsThePreviousFitOutputsByteForByte) {
  Case c("numerical", 100);
  std::ofstream(c.work / "Control.dat") << "data/ run1 1 2 0 2 2 100\n";
  std::ofstream(c.work / "Computational-parameters.dat") << "P\n2\n6\n0\n1\n109\n0 Method\n";
  EXPECT_EQ(run(c.work), 1);
  Files seen = contents(c.work);
  std::size_t at = 0;
  for (const std::string& line : c.rows)
    EXPECT_NE(at = seen[0].find(line + "\n", at), std::string::npos) << seen[0];
  seen[0] = c.complete[0];  // standard error aside, everything as the complete run left it
  EXPECT_EQ(seen, c.complete);
}

TEST(Output, ANewRunRemovesOnlyTheTemporariesOfRunsNoLongerAlive) {
  Case c("kill", 1000000);
  run(c.work, SIGKILL, std::stoi(c.rows.at(0)));
  for (std::size_t k = 1; k < outputs.size(); k++)  // the outputs, standard error aside
    std::ofstream(c.work / (outputs[k] + ".partial-4194304"), std::ios::app);  // above any pid
  std::string live = "run1.res.partial-" + std::to_string(getpid());  // this test's own pid
  std::ofstream(c.work / "data" / live) << "a run still going on";
  EXPECT_EQ(run(c.work), 0);
  Files seen = contents(c.work);
  EXPECT_TRUE(seen.back() == live + " " && (seen.back() = "", seen == c.complete)) << seen.back();
}
