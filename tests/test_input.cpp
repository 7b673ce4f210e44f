// The readers of the input files: numbers read exactly as strtod reads them, and the values that
// spellings of each file give, kept in tests/data/input_spellings.txt.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "Input.hpp"

namespace {

// Empty when read_finite takes what strtod takes from `text` (the same prefix, the same bits), or
// refuses where strtod finds no number, a number not finite or one followed by a comma and a digit.
std::string disagreement(const std::string& text) {
  char* stop = nullptr;
  double expected = std::strtod(text.c_str(), &stop), got = 0.0;
  std::size_t used = static_cast<std::size_t>(stop - text.c_str());
  bool refused = used == 0 || !std::isfinite(expected) ||
                 (used + 1 < text.size() && text[used] == ',' && text[used + 1] >= '0' &&
                  text[used + 1] <= '9');
  try {
    const char* end = read_finite(text.data(), text.data() + text.size(), &got, "f", 1, "v");
    if (refused || end != text.data() + used ||
        std::bit_cast<std::uint64_t>(got) != std::bit_cast<std::uint64_t>(expected))
      return "\"" + text + "\" is read as " + std::to_string(got);
  } catch (const InputError& error) {
    if (!refused) return "\"" + text + "\" is refused: " + error.what();
  }
  return "";
}

// Hand-picked spellings, random strings of number characters, printed doubles and long decimals
// near halfway points; each alone and before more text.
TEST(ReadFinite, ReadsEverySpellingAsStrtodReadsIt) {
  std::vector<std::string> items;
  std::ifstream spellings(std::string(TEST_DATA) + "/number_spellings.txt");
  for (std::string item; std::getline(spellings, item);)
    if (item[0] != '#') items.push_back(item);
  std::mt19937_64 rng(2024);
  const std::string characters = "0123456789012345.+-eExXpPabcdfinty.e,";
  for (int k = 0; k < 100000; k++) {
    items.emplace_back();
    for (std::size_t n = 1 + rng() % 14; n > 0; n--)
      items.back() += characters[rng() % characters.size()];
  }
  char printed[1200];
  for (int k = 0; k < 20000; k++) {
    double v = std::bit_cast<double>(rng());
    for (const char* format : {"%.17g", "%.16g", "%.6e", "%a", "%.25e", "%.3f", "%+.9e", "%.40g"})
      if (std::isfinite(v) && std::snprintf(printed, sizeof printed, format, v) > 0)
        items.push_back(printed);
  }
  for (int k = 0; k < 50000; k++) {
    std::string item = std::to_string(1 + rng() % 9) + ".";
    for (std::size_t n = 16 + rng() % 45; n > 0; n--) item += static_cast<char>('0' + rng() % 10);
    items.push_back(item + "e" + std::to_string(static_cast<int>(rng() % 666) - 345));
  }
  for (const std::string& item : items) {
    ASSERT_EQ(disagreement(item), "");
    ASSERT_EQ(disagreement(item + " 12"), "");
  }
}

// What a file gives, written out and read back through read_file and its parser: the values
// separated by spaces (doubles to 17 digits), or the fault's message.
std::string values_of(const std::string& file, const std::string& text) {
  const std::string name = ::testing::TempDir() + "spelling.txt";
  std::ofstream(name, std::ios::binary) << text;
  std::ostringstream out;
  out.precision(17);
  try {
    const std::string content = read_file(name);
    if (file == "control") {
      RunControl r = parse_run_control(content, "Control.dat");
      out << r.Path << ' ' << r.Inputfile;
      for (int v : {r.ix, r.iy, r.iw, r.ii, r.M, r.J}) out << ' ' << v;
    } else if (file == "parameters") {
      ComputationalParameters p = parse_computational_parameters(content, "p.dat");
      out << p.Nout << ' ' << p.Precision << ' ' << p.criterion << ' ' << p.Envelope << ' '
          << p.Nmax << ' ' << p.Method;
    } else if (file == "knots") {
      for (double knot : parse_knots(content, "k.knots"))
        out << (out.tellp() > 0 ? " " : "") << knot;
    } else {
      RunControl control;
      std::istringstream(file.substr(4)) >> control.ix >> control.iy >> control.ii;
      DataFile data = parse_data(content, "d.dat", control, 5);
      out << data.Title;
      for (std::size_t r = 0; r < data.x.size(); r++) out << ' ' << data.x[r] << ',' << data.y[r];
    }
  } catch (const InputError& error) {
    out << error.what();
  } catch (const TooManyDataRows&) {
    out << "too many rows";
  }
  std::remove(name.c_str());
  return out.str();
}

// Line ends, a byte-order mark, blank lines, tabs, text after values, extra columns, hexadecimal
// floats; the optional Method line; the ends of the settings' ranges; faults on later lines.
TEST(InputFiles, EverySpellingGivesItsValues) {
  std::ifstream table(std::string(TEST_DATA) + "/input_spellings.txt");
  for (std::string line, file, values, escaped; std::getline(table, line);) {
    std::istringstream fields(line);
    if (line[0] == '#' ||
        !std::getline(std::getline(std::getline(fields, file, '\t'), values, '\t'), escaped))
      continue;
    std::string text = escaped;
    for (auto [from, to] :
         {std::pair{"\\n", "\n"}, {"\\r", "\r"}, {"\\t", "\t"}, {"\\BOM", "\xEF\xBB\xBF"}})
      for (std::size_t at; (at = text.find(from)) != std::string::npos;)
        text.replace(at, std::strlen(from), to);
    EXPECT_EQ(values_of(file, text), values) << file << ": " << escaped;
  }
}

// Sizes around the 65536-byte chunks in which files are read, with and without a byte-order mark.
TEST(ReadFile, GivesTheWholeFileWithoutItsByteOrderMark) {
  const std::string name = ::testing::TempDir() + "whole.txt";
  for (std::size_t size : {0, 1, 2, 65535, 65536, 65537, 131073})
    for (std::string mark : {"", "\xEF\xBB\xBF"}) {
      std::string text(size, 'a');  // every byte value, but no mark
      for (std::size_t i = 1; i < size; i++) text[i] = static_cast<char>(i * 7919 % 256);
      std::ofstream(name, std::ios::binary) << mark << text;
      EXPECT_EQ(read_file(name), text) << size << " bytes";
    }
}

}  // namespace
