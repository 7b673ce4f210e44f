// Tables of cases under tests/data: one case a line, fields separated by " | ", lines starting
// with '#' comments; and the report numerror ends a run with.
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

using Row = std::vector<std::string>;
inline std::vector<Row> table(const std::string& name) {
  std::ifstream in(TEST_DATA "/" + name);
  std::vector<Row> rows;
  for (std::string line; std::getline(in, line);)
    for (std::size_t at = 0, bar = 0; line[0] != '#' && bar != std::string::npos; at = bar + 3)
      (at ? rows.back() : rows.emplace_back())
          .push_back(line.substr(at, (bar = line.find(" | ", at)) - at));
  EXPECT_GE(rows.size(), 3u) << name;
  return rows;
}

inline std::vector<double> numbers(const std::string& text) {  // "-" reads as NaN
  std::istringstream in(text);
  std::vector<double> v;
  for (std::string word; in >> word;) v.push_back(std::stod(word == "-" ? "nan" : word));
  return v;
}

// A regular expression for numerror's three lines around the message, taken literally.
inline std::string numerror_report(const std::string& message) {
  std::string re = "Numerical run-time error\\.\\.\\.\n";
  for (char ch : message) re.append(std::strchr("\\^$.|?*+()[]{}", ch) ? "\\" : "").push_back(ch);
  return re + "\n\\.\\.\\.now exiting to system\\.\\.\\.\n$";
}
