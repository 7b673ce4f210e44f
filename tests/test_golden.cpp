// Golden fits: reruns the built splinefit on every case in tests/golden/ and compares each output
// file, and the console text, byte for byte with the files kept there (see
// tests/golden/README.md for how they were produced). Guards bit-exact output across refactors.
#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "program_run.hpp"

namespace {

const fs::path golden_dir = GOLDEN_DIR;

// The regular files below root, as paths relative to it.
std::set<std::string> files_below(const fs::path& root) {
  std::set<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file()) names.insert(fs::relative(entry.path(), root).generic_string());
  return names;
}

// "" when the texts are equal, else where they first differ: line number and both lines.
std::string first_difference(const std::string& expected, const std::string& actual) {
  if (expected == actual) return "";
  auto at = std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
  std::size_t offset = static_cast<std::size_t>(at.first - expected.begin());
  std::size_t line =
      1 + static_cast<std::size_t>(std::count(expected.begin(), expected.begin() + offset, '\n'));
  auto line_at = [offset](const std::string& s) {
    std::size_t begin = s.rfind('\n', offset == 0 ? 0 : offset - 1);
    begin = begin == std::string::npos || offset == 0 ? 0 : begin + 1;
    std::size_t end = s.find('\n', begin);
    return s.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
  };
  std::ostringstream out;
  out << "sizes " << expected.size() << " and " << actual.size() << "; first difference at byte "
      << offset << ", line " << line << ":\n  expected: " << line_at(expected)
      << "\n  actual:   " << line_at(actual);
  return out.str();
}

std::vector<std::string> golden_cases() {
  std::vector<std::string> cases;
  for (const auto& entry : fs::directory_iterator(golden_dir))
    if (fs::is_directory(entry.path() / "input") && fs::is_directory(entry.path() / "expected"))
      cases.push_back(entry.path().filename().string());
  std::sort(cases.begin(), cases.end());
  return cases;
}

class GoldenFit : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenFit, ReproducesEveryOutputByteForByte) {
  const fs::path source = golden_dir / GetParam();
  const fs::path scratch = fs::path(::testing::TempDir()) /
                           ("splinefit-golden-" + std::to_string(getpid()) + "-" + GetParam());
  const fs::path work = scratch / "work";
  fs::remove_all(scratch);
  fs::create_directories(scratch);
  fs::copy(source / "input", work, fs::copy_options::recursive);

  Outcome o = run_splinefit(work, scratch);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "");

  // The run creates exactly the expected files (an envelope file only when one is expected).
  std::set<std::string> expected_files = files_below(source / "expected");
  ASSERT_EQ(expected_files.count("console.txt"), 1u);
  expected_files.erase("console.txt");
  std::set<std::string> created = files_below(work);
  for (const std::string& input : files_below(source / "input")) created.erase(input);
  EXPECT_EQ(created, expected_files);

  EXPECT_EQ(first_difference(slurp(source / "expected" / "console.txt"), o.out), "")
      << "console text";
  for (const std::string& name : expected_files)
    EXPECT_EQ(first_difference(slurp(source / "expected" / name), slurp(work / name)), "") << name;
  if (!HasFailure()) fs::remove_all(scratch);  // kept for inspection when the case fails
}

INSTANTIATE_TEST_SUITE_P(Cases, GoldenFit, ::testing::ValuesIn(golden_cases()),
                         [](const ::testing::TestParamInfo<std::string>& case_info) {
                           std::string name = case_info.param;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

}  // namespace
