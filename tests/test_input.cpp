// The readers of the input files: numbers read exactly as strtod reads them, and the values that
// spellings of each file give, kept in tests/data/input_spellings.txt.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "Input.hpp"

namespace {

// Empty when read_finite takes what strtod takes from `text` (the same prefix, the same bits), or
// refuses where strtod finds no number, a number not finite or one followed by a comma and a digit.
std::string disagreement(const std::string& text) {
  char* stop = nullptr;
  double expected = std::strtod(text.c_str(), &stop), got = 0.0;
  const bool refused = stop == text.c_str() || !std::isfinite(expected) ||
                       (*stop == ',' && stop[1] >= '0' && stop[1] <= '9');
  try {
    const char* end = read_finite(text.data(), text.data() + text.size(), &got, "f", 1, "v");
    if (refused || end != stop || got != expected || std::signbit(got) != std::signbit(expected))
      return "\"" + text + "\" is read as " + std::to_string(got);
  } catch (const InputError& error) {
    if (!refused) return "\"" + text + "\" is refused: " + error.what();
  }
  return "";
}

// The spellings of tests/data/number_spellings.txt, then random strings of number characters; each
// alone and before more text.
TEST(ReadFinite, ReadsEverySpellingAsStrtodReadsIt) {
  std::ifstream spellings(std::string(TEST_DATA) + "/number_spellings.txt");
  for (std::string item; std::getline(spellings, item);)
    ASSERT_EQ(item[0] == '#' ? "" : disagreement(item) + disagreement(item + " 12"), "");
  std::mt19937_64 rng(2024);
  const std::string characters = "0123456789012345.+-eExXpPabcdfinty.e,";
  for (int k = 0; k < 200000; k++) {
    std::string item;
    for (std::size_t n = 1 + rng() % 14; n > 0; n--) item += characters[rng() % characters.size()];
    ASSERT_EQ(disagreement(item) + disagreement(item + " 12"), "");
  }
}

// What a file gives, written out and read back as the program reads it (read_file and its parser,
// or read_data): its values (doubles to 17 digits; a data file's x,y pairs, then its weights), or
// the fault's message.
std::string read_back(const std::string& file, const std::string& text) {
  const std::string name = ::testing::TempDir() + "spelling.txt";
  std::ofstream(name, std::ios::binary) << text;
  std::ostringstream out;
  out.precision(17);
  auto put = [&out](const auto& value) { out << (out.tellp() > 0 ? " " : "") << value; };
  try {
    if (file == "control") {
      RunControl r = parse_run_control(read_file(name), "Control.dat");
      put(r.Path + ' ' + r.Inputfile);
      for (int v : {r.ix, r.iy, r.iw, r.ii, r.M, r.J}) put(v);
    } else if (file == "parameters") {
      for (double v : values_of(parse_computational_parameters(read_file(name), "p.dat"))) put(v);
    } else if (file == "knots") {
      for (double knot : parse_knots(read_file(name), "k.knots")) put(knot);
    } else {
      RunControl rc;
      int Weights = 0;
      std::istringstream(file.substr(4)) >> rc.ix >> rc.iy >> rc.ii >> rc.iw >> Weights;
      DataFile data = read_data(name, rc, 5, static_cast<lsq::Weights>(Weights));
      put(data.Title);
      for (std::size_t r = 1; r <= data.rows(); r++) put(data.x[r]), out << ',' << data.y[r];
      for (std::size_t r = 1; r <= data.rows() && !data.w.empty(); r++) put(data.w[r]);
    }
  } catch (const InputError& error) {
    out << error.what();
  }
  std::remove(name.c_str());
  return out.str();
}

// Line ends, a byte-order mark, blank lines, tabs, text after values, extra columns, hexadecimal
// floats; the optional Method and Weights lines; the ends of the settings' ranges; weights.
TEST(InputFiles, EverySpellingGivesItsValues) {
  std::ifstream table(std::string(TEST_DATA) + "/input_spellings.txt");
  for (std::string line; std::getline(table, line);) {
    const std::size_t tab = line.find('\t'), next = line.find('\t', tab + 1);
    if (line[0] == '#' || next == std::string::npos) continue;
    std::string text = line.substr(next + 1);
    for (auto [from, to] :
         {std::pair{"\\n", "\n"}, {"\\r", "\r"}, {"\\t", "\t"}, {"\\BOM", "\xEF\xBB\xBF"}})
      for (std::size_t at; (at = text.find(from)) != std::string::npos;)
        text.replace(at, std::strlen(from), to);
    EXPECT_EQ(read_back(line.substr(0, tab), text), line.substr(tab + 1, next - tab - 1)) << line;
  }
}

// The data file read as a stream gives what its whole text gives, when a line break (LF, CR LF,
// lone CR) falls at each byte around the end of the first block read, and when a line outgrows
// the buffer: the same points, and the same line named in a fault.
TEST(ReadData, GivesWhatParseDataGivesOfTheWholeText) {
  const std::string name = ::testing::TempDir() + "stream.dat";
  RunControl rc;
  rc.ix = 1, rc.iy = 2, rc.ii = 2;
  auto outcome = [&rc, &name](bool stream, const std::string& text) {
    std::ofstream(name, std::ios::binary) << text;
    std::ostringstream out;
    out.precision(17);
    try {
      DataFile data = stream ? read_data(name, rc, 1 << 20) : parse_data(text, name, rc, 1 << 20);
      out << data.Title.size() << ' ' << data.rows();
      for (std::size_t r = 1; r <= data.rows(); r++) out << ' ' << data.x[r] << ',' << data.y[r];
    } catch (const InputError& error) {
      out << error.what();
    }
    return out.str();
  };
  for (const std::string line_break : {"\n", "\r\n", "\r"}) {
    for (std::size_t at = data_read_block - 3; at <= data_read_block + 1; at++) {
      // A byte-order mark and a title, then a row whose line break starts at byte `at`.
      const std::string title = "\xEF\xBB\xBFTitle\n";
      std::string text = title + std::string(at - title.size() - 3, ' ') + "1 2" + line_break;
      for (const std::string last : {"\n", "3 4\n"}) {
        const std::string whole = text + "\n" + line_break + "5 6" + line_break + last + "x 7\n";
        EXPECT_EQ(outcome(true, whole), outcome(false, whole)) << at << " " << line_break.size();
        EXPECT_EQ(outcome(true, whole.substr(0, whole.size() - 4)),
                  outcome(false, whole.substr(0, whole.size() - 4)));
      }
    }
  }
  const std::string long_row = "T\n" + std::string(3 * data_read_block, ' ') + "8 9\r\n1 1";
  EXPECT_EQ(outcome(true, long_row), "1 2 8,9 1,1");
  std::remove(name.c_str());
}

}  // namespace
