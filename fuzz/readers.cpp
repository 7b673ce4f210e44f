#include "readers.hpp"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Input.hpp"

namespace {

void require(bool rule, const char* what) {
  if (!rule) {
    std::fprintf(stderr, "reader contract broken: %s\n", what);
    std::abort();
  }
}

// "<file>[, line <n>]: <what>.": one line of text that starts with the file name and ends in a
// full stop.
void check_message(const InputError& error, const std::string& name) {
  std::string message = error.what();
  require(message.compare(0, name.size() + 1, name + ":") == 0 ||
              message.compare(0, name.size() + 6, name + ", line") == 0,
          "the message starts with the file name");
  require(message.size() > name.size() + 3 && message.back() == '.', "the message ends in '.'");
  require(message.find_first_of("\n\r", 0) == std::string::npos, "the message is one line");
}

bool is_space(char ch) { return ch == ' ' || (ch >= '\t' && ch <= '\r'); }
bool is_blank(char ch) { return ch == ' ' || ch == '\t' || ch == '\v' || ch == '\f'; }

void control(const std::string& text) {
  const std::string name = "Control.dat";
  try {
    RunControl rc = parse_run_control(text, name);
    for (const std::string* item : {&rc.Path, &rc.Inputfile}) {
      require(!item->empty(), "Path and Inputfile are not empty");
      for (char ch : *item) require(!is_space(ch) && ch != '\0', "items hold no space or NUL");
    }
    const int values[] = {rc.ix, rc.iy, rc.iw, rc.ii, rc.M, rc.J};
    for (int k = 0; k < control_count; k++)
      require(accepts(control_settings[k], values[k], rc.ii), "every value in its setting's range");
    require(rc.Path.size() + rc.Inputfile.size() + 6 <= max_file_name, "file names fit");
  } catch (const InputError& error) {
    check_message(error, name);
  }
}

void parameters(const std::string& text) {
  const std::string name = "Computational-parameters.dat";
  try {
    ComputationalParameters cp = parse_computational_parameters(text, name);
    const auto values = values_of(cp);
    for (int k = 0; k < parameter_count; k++)
      require(accepts(parameter_settings[k], values[k]), "every value in its setting's range");
    require(std::isfinite(cp.criterion), "criterion is finite");
  } catch (const InputError& error) {
    check_message(error, name);
  }
}

// An independent reading of the rows for comparison: the rows of the data file after its title,
// blank lines left out, split into whitespace-separated tokens. A row whose first ii tokens are
// each wholly a finite number, as strtod reads it, must give x and y from tokens ix and iy.
struct CleanRow {
  bool clean;
  double x, y;
};

std::vector<CleanRow> clean_rows(const std::string& text, const RunControl& rc) {
  std::vector<CleanRow> rows;
  std::size_t p = 0;
  bool title = true;
  while (p < text.size()) {
    std::size_t end = text.find_first_of("\r\n", p);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(p, end - p);
    p = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    if (title) {
      title = false;
      continue;
    }
    std::vector<std::string> tokens;
    for (std::size_t q = 0; q < line.size();) {
      while (q < line.size() && is_blank(line[q])) q++;
      std::size_t start = q;
      while (q < line.size() && !is_blank(line[q])) q++;
      if (q > start) tokens.push_back(line.substr(start, q - start));
    }
    if (tokens.empty()) continue;
    CleanRow row{tokens.size() >= static_cast<std::size_t>(rc.ii), 0.0, 0.0};
    for (int k = 1; row.clean && k <= rc.ii; k++) {
      const std::string& token = tokens[static_cast<std::size_t>(k - 1)];
      char* stop = nullptr;
      double value = std::strtod(token.c_str(), &stop);
      row.clean = stop == token.c_str() + token.size() && std::isfinite(value);
      if (k == rc.ix) row.x = value;
      if (k == rc.iy) row.y = value;
    }
    rows.push_back(row);
  }
  return rows;
}

// The data reader under a few column layouts (one with an ii far beyond any row) and row limits:
// too many rows are reported whatever the rows hold, and only when there are.
void data(const std::string& text) {
  const std::string name = "data/run1.dat";
  RunControl two;
  two.ix = 1, two.iy = 2, two.iw = 0, two.ii = 2;
  RunControl four;
  four.ix = 4, four.iy = 2, four.iw = 3, four.ii = 4;
  RunControl widest;
  widest.ix = 1, widest.iy = 2, widest.iw = 0, widest.ii = INT_MAX;
  for (const RunControl* rc : {&two, &four, &widest}) {
    const std::vector<CleanRow> rows = clean_rows(text, *rc);
    // No line can be over the limit: the rows alone decide whether they are too many.
    const bool within_line_limit = text.size() <= data_line_limit(rc->ii);
    for (int Nmax : {3, INT_MAX}) {
      const bool too_many = rows.size() > static_cast<std::size_t>(Nmax) - 2;
      try {
        DataFile d = parse_data(text, name, *rc, Nmax);
        for (lsq::Weights Weights : {lsq::Weights::weights, lsq::Weights::sigmas}) {
          if (rc->iw == 0) break;
          try {
            DataFile weighted = parse_data(text, name, *rc, Nmax, Weights);
            require(weighted.w.size() == d.x.size(), "one weight per point");
            for (std::size_t i = 1; i <= weighted.rows(); i++)
              require(std::isfinite(weighted.w[i]) &&
                          (Weights == lsq::Weights::weights ? weighted.w[i] >= 0.0
                                                            : weighted.w[i] > 0.0),
                      "weights usable");
          } catch (const InputError& error) {
            check_message(error, name);
          }
        }
        require(d.rows() > 0 && d.x.size() == d.y.size(), "as many x as y, at least one");
        require(d.rows() <= static_cast<std::size_t>(Nmax) - 2, "at most Nmax - 2 rows");
        for (std::size_t i = 1; i <= d.rows(); i++)
          require(std::isfinite(d.x[i]) && std::isfinite(d.y[i]), "every number is finite");
        require(d.Title.find_first_of("\n\r") == std::string::npos, "the title is one line");
        require(rows.size() == d.rows(), "one point per row that is not blank");
        for (std::size_t i = 0; i < rows.size(); i++)
          if (rows[i].clean)
            require(std::memcmp(&rows[i].x, &d.x[i + 1], sizeof(double)) == 0 &&
                        std::memcmp(&rows[i].y, &d.y[i + 1], sizeof(double)) == 0,
                    "a row of whole numbers gives exactly those numbers");
      } catch (const InputError& error) {
        check_message(error, name);
        require(!too_many || !within_line_limit, "too many rows are reported before a bad row");
      } catch (const TooManyDataRows& too_many_rows) {
        require(too_many_rows.Nmax == Nmax, "TooManyDataRows carries Nmax");
        require(too_many, "TooManyDataRows only for more than Nmax - 2 rows");
      }
    }
  }
}

void knots(const std::string& text) {
  const std::string name = "data/run1.knots";
  try {
    std::vector<double> X = parse_knots(text, name);
    require(X.size() >= 2 && X.size() <= 99, "2 to 99 knots");
    for (std::size_t k = 0; k < X.size(); k++) {
      require(std::isfinite(X[k]), "every knot is finite");
      require(k == 0 || X[k - 1] <= X[k], "knots do not descend");
    }
  } catch (const InputError& error) {
    check_message(error, name);
  }
}

}  // namespace

bool input_reader_named(std::string_view name, InputReader* reader) {
  const std::pair<std::string_view, InputReader> readers[] = {
      {"control", InputReader::control},
      {"parameters", InputReader::parameters},
      {"data", InputReader::data},
      {"knots", InputReader::knots}};
  for (const auto& [known, which] : readers)
    if (name == known) {
      *reader = which;
      return true;
    }
  return false;
}

void feed_input_reader(InputReader reader, std::string_view text) {
  const std::string content(text);
  switch (reader) {
    case InputReader::control:
      control(content);
      break;
    case InputReader::parameters:
      parameters(content);
      break;
    case InputReader::data:
      data(content);
      break;
    case InputReader::knots:
      knots(content);
      break;
  }
}
