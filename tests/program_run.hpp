// Runs the built splinefit (SPLINEFIT_EXE) in a fresh working directory per test, with data set
// data/run1, and checks the two ways a run ends: refused with one line, or fitted.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

inline std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Outcome {
  int status;
  std::string out, err;
};

// Runs the program in `work` with standard input empty; out and err are kept in `scratch`.
inline Outcome run_splinefit(const fs::path& work, const fs::path& scratch) {
  std::string command = "cd '" + work.string() + "' && '" SPLINEFIT_EXE "' </dev/null >'" +
                        (scratch / "out").string() + "' 2>'" + (scratch / "err").string() + "'";
  int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(scratch / "out"), slurp(scratch / "err")};
}

// The four input files of one run. An empty knots text writes no knots file.
struct Inputs {
  std::string control = "data/ run1 1 2 0 2 3 2\n";
  std::string parameters =
      "Parameters\n2 Nout\n6 Precision\n1e-8 criterion\n1 Envelope\n100 Nmax\n";
  std::string data = "Title\n0 0\n1 1\n2 4\n3 9\n4 16\n5 25\n6 36\n";
  std::string knots;
};

class ProgramRun : public ::testing::Test {
 protected:
  // The process id keeps concurrent builds running the same test apart.
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::path(::testing::TempDir()) / ("splinefit-" + std::to_string(getpid()) + "-" +
                                             info->test_suite_name() + "." + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "work" / "data");
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(dir_);
  }

  fs::path path(const std::string& name) const { return dir_ / "work" / name; }
  void write(const std::string& name, const std::string& content) const {
    fs::remove_all(path(name));
    std::ofstream(path(name), std::ios::binary) << content;
  }
  std::string read(const std::string& name) const { return slurp(path(name)); }
  bool exists(const std::string& name) const { return fs::exists(path(name)); }

  // Control.dat and the parameter file, the latter from its value lines.
  void configure(const std::string& control, const std::string& parameters) const {
    write("Control.dat", control);
    write("Computational-parameters.dat", "Parameters\n" + parameters);
  }

  // Writes the inputs and removes the outputs of an earlier run.
  void lay_out(const Inputs& in) const {
    write("Control.dat", in.control);
    write("Computational-parameters.dat", in.parameters);
    write("data/run1.dat", in.data);
    fs::remove_all(path("data/run1.knots"));
    if (!in.knots.empty()) write("data/run1.knots", in.knots);
    fs::remove_all(path("data/run1.res"));
    fs::remove_all(path("data/run1-1.dat"));
  }

  Outcome run() const { return run_splinefit(dir_ / "work", dir_); }
  Outcome run(const Inputs& in) const {
    lay_out(in);
    return run();
  }

  // Status 2, nothing on standard output, one line "splinefit: ..." on standard error that
  // contains `message`, and no results or envelope file.
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
  fs::path dir_;
};
