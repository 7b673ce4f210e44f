#include "Input.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

namespace {

bool is_blank(char ch) { return ch == ' ' || ch == '\t' || ch == '\v' || ch == '\f'; }
bool is_line_end(char ch) { return ch == '\n' || ch == '\r'; }
bool is_space(char ch) { return is_blank(ch) || is_line_end(ch); }

// The item that starts at p, as a message shows it: quoted, at most 24 characters, control
// characters and non-ASCII bytes escaped.
std::string shown(const char* p, const char* end) {
  std::string out = "\"";
  int count = 0;
  for (; p < end && !is_space(*p); p++, count++) {
    if (count == 24) {
      out += "...";
      break;
    }
    unsigned char ch = static_cast<unsigned char>(*p);
    if (ch >= 0x20 && ch < 0x7f) {
      out += static_cast<char>(ch);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", ch);
      out += hex;
    }
  }
  return out + "\"";
}

// "%d": optional sign and decimal digits. Returns the end of the number, or p when there is
// none; *overflow is set when the value does not fit an int.
const char* scan_int(const char* p, const char* end, int* value, bool* overflow) {
  const char* q = p;
  bool negative = false;
  if (q < end && (*q == '+' || *q == '-')) negative = *q++ == '-';
  const char* digits = q;
  long long v = 0;
  *overflow = false;
  for (; q < end && *q >= '0' && *q <= '9'; q++) {
    if (v <= INT_MAX) v = v * 10 + (*q - '0');
    if (v > static_cast<long long>(INT_MAX) + (negative ? 1 : 0)) *overflow = true;
  }
  if (q == digits) return p;
  *value = static_cast<int>(negative ? -v : v);
  return q;
}

// The usual number of a data file, [sign]digits[.digits] with at most 19 digits in all and no
// more of a number after it: its digits make an integer w, and when w <= 2^53, w / 10^decimals is
// one correctly rounded division of two exact doubles, the value strtod gives (the sign applies
// last, so "-0" is -0). Returns the end, or nullptr for anything else.
const char* plain_decimal(const char* p, const char* end, double* value) {
  static constexpr double tens[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,
                                    1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19};
  const bool negative = p < end && *p == '-';
  if (p < end && (*p == '-' || *p == '+')) p++;
  std::uint64_t w = 0;
  int digits = 0, decimals = 0;
  for (; p < end && *p >= '0' && *p <= '9' && digits < 20; p++, digits++) w = 10 * w + (*p - '0');
  if (p < end && *p == '.')
    for (p++; p < end && *p >= '0' && *p <= '9' && digits < 20; p++, digits++, decimals++)
      w = 10 * w + (*p - '0');
  if (digits == 0 || digits > 19 || w > std::uint64_t{1} << 53) return nullptr;
  if (p < end &&
      ((*p >= '0' && *p <= '9') || *p == '.' || *p == 'e' || *p == 'E' || *p == 'x' || *p == 'X'))
    return nullptr;
  const double v = static_cast<double>(w) / tens[decimals];
  *value = negative ? -v : v;
  return p;
}

// "%le" / "%lf": the longest prefix that strtod converts (decimal, exponent, hexadecimal, inf,
// nan). Returns the end of the number, or p when there is none. A number never contains
// whitespace, so only the item up to the next whitespace is converted; an item longer than 511
// bytes (hundreds of digits) is copied whole rather than cut, which would split one number in two.
// A short plain decimal is read by plain_decimal; any other decimal (optional sign, then a digit
// or a point) goes through std::from_chars, which takes the same longest prefix and rounds it
// correctly, as strtod does, but several times faster; everything else (a hexadecimal "0x" after
// the digit 0, inf, nan, a value out of range) goes to strtod itself.
const char* scan_double(const char* p, const char* end, double* value) {
  if (const char* stop = plain_decimal(p, end, value)) return stop;
  char item[512];
  // from_chars stops at whitespace and NUL by itself, so it needs only the length limit.
  const char* limit = end - p < 511 ? end : p + 511;
  const char* first = p < limit && (*p == '+' || *p == '-') ? p + 1 : p;
  if (first < limit && ((*first >= '0' && *first <= '9') || *first == '.')) {
    auto [stop, error] = std::from_chars(*p == '+' ? first : p, limit, *value);
    // A number that reaches the limit may go on beyond it: strtod below reads it whole.
    if (error == std::errc() && !(stop < limit && (*stop == 'x' || *stop == 'X')) &&
        (stop < limit || limit == end))
      return stop;
  }
  std::size_t n = 0;
  while (p + n < end && n < sizeof item - 1 && !is_space(p[n]) && p[n] != '\0') n++;
  std::memcpy(item, p, n);
  item[n] = '\0';
  char* stop = nullptr;
  if (n == sizeof item - 1 && p + n < end && !is_space(p[n]) && p[n] != '\0') {  // longer item
    while (p + n < end && !is_space(p[n]) && p[n] != '\0') n++;
    std::string whole(p, n);
    *value = std::strtod(whole.c_str(), &stop);
    return p + (stop - whole.c_str());
  }
  *value = std::strtod(item, &stop);
  return p + (stop - item);
}

// A number written with a decimal comma ("1,5") would be read as its whole part and the rest
// taken as free text; a value directly followed by a comma and a digit is refused instead.
void reject_decimal_comma(const std::string& file, int line, const std::string& what, const char* p,
                          const char* q, const char* end) {
  if (q + 1 < end && *q == ',' && q[1] >= '0' && q[1] <= '9')
    input_fault(file, line,
                what + " is followed by a comma (found " + shown(p, end) +
                    "); write decimals with a point and separate values with whitespace");
}

}  // namespace

void input_fault(const std::string& file, int line, const std::string& what) {
  std::string message = file;
  if (line > 0) message += ", line " + std::to_string(line);
  throw InputError(message + ": " + what + ".");
}

const char* read_finite(const char* p, const char* end, double* value, const std::string& file,
                        int line, const std::string& what, int column) {
  const char* q = scan_double(p, end, value);
  if (q != p && std::isfinite(*value) && !(q + 1 < end && *q == ',')) return q;
  const std::string subject = column > 0 ? what + " " + std::to_string(column) : what;
  if (q == p) input_fault(file, line, subject + " is not a number (found " + shown(p, end) + ")");
  if (!std::isfinite(*value))
    input_fault(file, line, subject + " is not a finite number (found " + shown(p, end) + ")");
  reject_decimal_comma(file, line, subject, p, q, end);
  return q;
}

namespace {

// A cursor over a whole file for the formatted reads of the two configuration files.
class Reader {
 public:
  Reader(std::string_view text, const std::string& file)
      : p_(text.data()), end_(text.data() + text.size()), file_(file) {}

  int line() const { return line_; }

  // Skips whitespace, blank lines included, and tells whether a whole number starts there.
  bool integer_follows() {
    skip_space();
    int value = 0;
    bool overflow = false;
    return scan_int(p_, end_, &value, &overflow) != p_;
  }

  // Past the rest of the current line and its line break.
  void skip_line() {
    while (p_ < end_ && !is_line_end(*p_)) p_++;
    step_line_end();
  }

  // A whitespace-free item, as "%s" reads it.
  std::string item(const char* setting) {
    start_value(setting);
    const char* begin = p_;
    while (p_ < end_ && !is_space(*p_)) p_++;
    std::string value(begin, p_);
    if (value.find('\0') != std::string::npos)
      input_fault(file_, line_, std::string(setting) + " holds a NUL byte");
    return value;
  }

  int integer(const char* setting) {
    start_value(setting);
    int value = 0;
    bool overflow = false;
    const char* q = scan_int(p_, end_, &value, &overflow);
    if (q == p_)
      input_fault(file_, line_,
                  std::string(setting) + " is not a whole number (found " + shown(p_, end_) + ")");
    if (overflow)
      input_fault(file_, line_,
                  std::string(setting) + " is out of range (found " + shown(p_, end_) + ")");
    reject_decimal_comma(file_, line_, setting, p_, q, end_);
    p_ = q;
    return value;
  }

  double real(const char* setting) {
    start_value(setting);
    double value = 0.0;
    p_ = read_finite(p_, end_, &value, file_, line_, setting);
    return value;
  }

 private:
  // Skips whitespace, blank lines included, to the start of a value.
  void start_value(const char* setting) {
    skip_space();
    if (p_ == end_)
      input_fault(file_, 0, std::string(setting) + " is missing (the file ends before it)");
  }

  void skip_space() {
    while (p_ < end_ && is_space(*p_)) {
      if (is_line_end(*p_))
        step_line_end();
      else
        p_++;
    }
  }

  void step_line_end() {
    if (p_ == end_) return;
    if (*p_ == '\r' && p_ + 1 < end_ && p_[1] == '\n') p_++;
    p_++;
    line_++;
  }

  const char* p_;
  const char* end_;
  const std::string& file_;
  int line_ = 1;
};

struct Line {
  const char* begin;
  const char* end;
  int number;
};

struct CloseFile {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using OpenFile = std::unique_ptr<std::FILE, CloseFile>;

OpenFile open_for_reading(const std::string& name) {
  OpenFile f(std::fopen(name.c_str(), "rb"));
  if (f == nullptr)
    input_fault(name, 0, std::string("cannot be opened for reading: ") + std::strerror(errno));
  return f;
}

// The lines of a text in memory, or of a file read data_read_block bytes at a time into a buffer
// that holds the current line whole (and grows for a longer one). Lines end with LF, CR LF or a
// lone CR; a last line without a line break is a line like any other; a UTF-8 byte-order mark at
// the start is skipped. A line of more than `limit` bytes, line break not counted, ends the run:
// "<name>, line <n>: the line is longer than <limit> bytes, <rule>.", and so does a line after
// line INT_MAX, so that even endless blank lines end. The bytes of the buffer without CR are split
// by memchr, which scans many bytes at once.
class LineReader {
 public:
  LineReader(std::string_view text, const std::string& name, std::size_t limit, std::string rule)
      : name_(name), limit_(limit), rule_(std::move(rule)) {
    p_ = text.data();
    end_ = text.data() + text.size();
    size_ = read_ = text.size();
    cr_free_ = p_ == end_ || std::memchr(p_, '\r', text.size()) == nullptr;
    skip_byte_order_mark();
  }

  LineReader(std::FILE* file, const std::string& name, std::size_t limit, std::string rule)
      : name_(name), limit_(limit), rule_(std::move(rule)), file_(file), at_end_(false) {
    struct stat info {};
    if (fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode))
      size_ = static_cast<std::size_t>(info.st_size);
    buffer_.resize(std::min(data_read_block, limit + 1));
    refill();
    skip_byte_order_mark();
  }

  bool next(Line* line) {
    for (;;) {
      if (skip_lf_ && p_ < end_) {  // the LF of a CR LF that the last line ended with
        skip_lf_ = false;
        if (*p_ == '\n') p_++;
      }
      if (!skip_lf_) {
        const char* stop = line_end();
        if (stop < end_ || (at_end_ && p_ < end_)) {
          if (static_cast<std::size_t>(stop - p_) > limit_) too_long();
          if (number_ == INT_MAX) too_many_lines();
          *line = {p_, stop, ++number_};
          skip_lf_ = stop < end_ && *stop == '\r';
          p_ = stop < end_ ? stop + 1 : stop;
          return true;
        }
      }
      if (at_end_) return false;
      if (static_cast<std::size_t>(end_ - p_) > limit_) too_long();
      refill();
    }
  }

  // The bytes before the next line, and the size of the whole file (0 when it is not known).
  std::size_t offset() const { return read_ - static_cast<std::size_t>(end_ - p_); }
  std::size_t size() const { return size_; }

 private:
  const char* line_end() const {
    if (cr_free_) {
      const void* lf = std::memchr(p_, '\n', static_cast<std::size_t>(end_ - p_));
      return lf != nullptr ? static_cast<const char*>(lf) : end_;
    }
    const char* q = p_;
    while (q < end_ && !is_line_end(*q)) q++;
    return q;
  }

  // Keeps the unfinished line at the front of the buffer, which doubles (up to the limit and a
  // byte for its line break) when the line fills it, and reads the file into the rest.
  void refill() {
    const std::size_t kept = static_cast<std::size_t>(end_ - p_);
    if (kept > 0) std::memmove(buffer_.data(), p_, kept);
    if (kept == buffer_.size()) buffer_.resize(std::min(2 * buffer_.size(), limit_ + 1));
    const std::size_t wanted = buffer_.size() - kept;
    const std::size_t got = std::fread(buffer_.data() + kept, 1, wanted, file_);
    if (std::ferror(file_))
      input_fault(name_, 0, std::string("cannot be read: ") + std::strerror(errno));
    at_end_ = got < wanted;
    read_ += got;
    p_ = buffer_.data();
    end_ = p_ + kept + got;
    cr_free_ = std::memchr(p_, '\r', kept + got) == nullptr;
  }

  void skip_byte_order_mark() {
    if (end_ - p_ >= 3 && std::memcmp(p_, "\xEF\xBB\xBF", 3) == 0) p_ += 3;
  }

  // Lines are numbered as an int; this also ends a file of endless blank lines.
  [[noreturn]] void too_many_lines() const {
    input_fault(name_, 0,
                "holds more than " + std::to_string(INT_MAX) + " lines, the most a file may hold");
  }

  [[noreturn]] void too_long() const {
    input_fault(name_, number_ + 1,
                "the line is longer than " + std::to_string(limit_) + " bytes, " + rule_);
  }

  const std::string& name_;
  std::size_t limit_;
  std::string rule_;           // how the limit is set, for the message
  std::FILE* file_ = nullptr;  // null for a text in memory
  std::vector<char> buffer_;   // a file's bytes
  const char* p_ = nullptr;    // the next line's start
  const char* end_ = nullptr;  // the end of the bytes at hand
  bool at_end_ = true;         // nothing more to read
  bool cr_free_ = true;        // no CR from p_ to end_
  bool skip_lf_ = false;       // the last line ended with a CR
  int number_ = 0;             // lines handed out
  std::size_t read_ = 0;       // bytes read from the file
  std::size_t size_ = 0;       // the file's size, when it is known
};

bool is_blank_line(const Line& line) {
  for (const char* p = line.begin; p < line.end; p++)
    if (!is_blank(*p)) return false;
  return true;
}

const char* skip_blanks(const char* p, const char* end) {
  while (p < end && is_blank(*p)) p++;
  return p;
}

// "<name> is <value>; it must be <rule>" unless the setting accepts the value.
void check_setting(const std::string& file, int line, const Setting& setting, double value,
                   int ii = 0) {
  if (accepts(setting, value, ii)) return;
  char shown_value[32];
  std::snprintf(shown_value, sizeof shown_value, "%.17g", value);
  std::string rule = setting.rule;
  if (setting.at_most_ii) rule += " ii = " + std::to_string(ii);
  input_fault(file, line,
              std::string(setting.name) + " is " + shown_value + "; it must be " + rule);
}

}  // namespace

constexpr double int_max = INT_MAX, int_min = INT_MIN;

const Setting control_settings[control_count] = {
    {"ix", "column of the abscissa", 1, 0, "from 1 to", true},
    {"iy", "column of the ordinate", 1, 0, "from 1 to", true},
    {"iw", "column of weights or standard deviations (see Weights), 0 for none", 0, 0, "from 0 to",
     true},
    {"ii", "numbers read from each data row", 2, int_max, "at least 2"},
    {"M", "degree of the polynomial pieces", 2, 3, "2 or 3"},
    {"J", "knot intervals placed automatically; 0 or less reads the knots file", int_min,
     max_automatic_intervals, "at most 1000"},
};

const Setting parameter_settings[parameter_count] = {
    {"Nout", "table rows per knot interval in the results file", 1, int_max, "at least 1"},
    {"Precision", "significant digits of the numbers written", 1, 99, "from 1 to 99"},
    {"criterion", "fractional tolerance of Powell's fit", 0, HUGE_VAL, "at least 0"},
    {"Envelope", "0 none, >0 the points on or above the curve, <0 on or below", int_min, int_max,
     "any whole number"},
    {"Nmax", "the data file may hold at most Nmax - 2 rows", 3, int_max, "at least 3"},
    {"Method", "optional: 0 Powell's fit, 1 the exact least-squares fit", 0, 1, "0 or 1", false,
     true},
    {"Weights",
     "optional, after Method: 0 column iw unused, 1 it holds weights, 2 standard "
     "deviations",
     0, 2, "0, 1 or 2", false, true},
    {"Knots",
     "optional, after Weights: 0 J intervals or the knots file, 1 the number of intervals chosen "
     "by the data (J at most), 2 free knots",
     0, 2, "0, 1 or 2", false, true},
    {"Robust",
     "optional, after Knots: 0 least squares, 1 a robust fit with Huber's psi, 2 with Tukey's "
     "bisquare (needs Method 1)",
     0, 2, "0, 1 or 2", false, true},
};

std::array<double, parameter_count> values_of(const ComputationalParameters& cp) {
  return {double(cp.Nout),
          double(cp.Precision),
          cp.criterion,
          double(cp.Envelope),
          double(cp.Nmax),
          double(static_cast<int>(cp.Method)),
          double(static_cast<int>(cp.Weights)),
          double(static_cast<int>(cp.Knots)),
          double(static_cast<int>(cp.Robust))};
}

bool accepts(const Setting& setting, double value, int ii) {
  return value >= setting.low && value <= (setting.at_most_ii ? ii : setting.high);
}

std::string read_file(const std::string& name) {
  OpenFile f = open_for_reading(name);
  std::string text;
  char block[1 << 16];
  std::size_t got;
  while ((got = std::fread(block, 1, sizeof block, f.get())) > 0) {
    if (text.size() + got > max_settings_file)
      input_fault(name, 0,
                  "holds more than " + std::to_string(max_settings_file) +
                      " bytes, the most a settings or knots file may hold");
    text.append(block, got);
  }
  if (std::ferror(f.get()))
    input_fault(name, 0, std::string("cannot be read: ") + std::strerror(errno));
  if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
  return text;
}

RunControl parse_run_control(std::string_view text, const std::string& name) {
  Reader in(text, name);
  RunControl rc;
  rc.Path = in.item("Path (the data directory)");
  rc.Inputfile = in.item("Inputfile (the data set name)");
  // The longest name built from them is <Path><Inputfile>.knots (or -1.dat).
  std::size_t longest = rc.Path.size() + rc.Inputfile.size() + 6;
  if (longest > max_file_name)
    input_fault(name, in.line(),
                "Path and Inputfile make file names of " + std::to_string(longest) +
                    " characters; at most " + std::to_string(max_file_name) + " are allowed");
  int* values[] = {&rc.ix, &rc.iy, &rc.iw, &rc.ii, &rc.M, &rc.J};
  int lines[control_count];
  for (int k = 0; k < control_count; k++) {
    *values[k] = in.integer(control_settings[k].name);
    lines[k] = in.line();
  }
  // ii first: the column settings are bounded by it.
  for (int k : {3, 0, 1, 2, 4, 5})
    check_setting(name, lines[k], control_settings[k], *values[k], rc.ii);
  return rc;
}

ComputationalParameters parse_computational_parameters(std::string_view text,
                                                       const std::string& name) {
  Reader in(text, name);
  ComputationalParameters cp;
  in.skip_line();  // heading
  double real = 0.0;
  int method = 0, weights = 0, knots = 0, robust = 0;
  int* integers[] = {&cp.Nout, &cp.Precision, nullptr, &cp.Envelope, &cp.Nmax,
                     &method,  &weights,      &knots,  &robust};
  int lines[parameter_count] = {};
  for (int k = 0; k < parameter_count; k++) {
    const Setting& setting = parameter_settings[k];
    if (setting.optional && !in.integer_follows()) break;
    if (integers[k] != nullptr)
      *integers[k] = in.integer(setting.name);
    else
      real = cp.criterion = in.real(setting.name);
    lines[k] = in.line();
    in.skip_line();
  }
  for (int k = 0; k < parameter_count; k++)
    check_setting(name, lines[k], parameter_settings[k], integers[k] ? *integers[k] : real);
  cp.Method = static_cast<lsq::Method>(method);
  cp.Weights = static_cast<lsq::Weights>(weights);
  cp.Knots = static_cast<lsq::Knots>(knots);
  cp.Robust = static_cast<lsq::Robust>(robust);
  if (cp.Robust != lsq::Robust::none && cp.Method == lsq::Method::powell)
    input_fault(
        name, lines[8],
        "Robust is " + std::to_string(robust) +
            ", but Method is 0; a robust fit uses the exact least-squares solve (Method 1)");
  return cp;
}

std::size_t data_line_limit(int ii) {
  const std::size_t least = std::size_t{16} << 20, most = std::size_t{256} << 20;
  return std::clamp(std::size_t{32} * static_cast<std::size_t>(std::max(ii, 0)), least, most);
}

namespace {

// The row `line` appended to data.x, data.y and, when iw > 0, data.w: columns ix, iy and iw of
// its first ii finite numbers; no buffer of ii numbers, which may be huge.
void parse_row(const Line& line, const std::string& name, const RunControl& control, int iw,
               lsq::Weights Weights, DataFile* data) {
  double x = 0.0, y = 0.0, weight = 0.0;
  const char* p = line.begin;
  for (int k = 1; k <= control.ii; k++) {
    p = skip_blanks(p, line.end);
    if (p == line.end)
      input_fault(name, line.number,
                  "the row holds " + std::to_string(k - 1) + " number" + (k == 2 ? "" : "s") +
                      " where ii = " + std::to_string(control.ii) + " are needed");
    double value = 0.0;
    const char* start = p;
    // The usual plain decimal at once, as read_finite would take it (plain_decimal first);
    // anything else, or a comma after it, through read_finite itself.
    p = plain_decimal(start, line.end, &value);
    if (p == nullptr || (p + 1 < line.end && *p == ','))
      p = read_finite(start, line.end, &value, name, line.number, "column", k);
    if (k == control.ix) x = value;
    if (k == control.iy) y = value;
    if (k == iw) {
      weight = lsq::weight_of(Weights, value);
      if (std::isnan(weight))
        input_fault(
            name, line.number,
            "column " + std::to_string(k) + " holds " + shown(start, line.end) +
                (Weights == lsq::Weights::weights
                     ? ", a weight below 0 (Weights 1 needs weights of 0 or more)"
                     : ", not a usable standard deviation (Weights 2 needs standard deviations "
                       "above 0 whose 1 / sigma^2 is finite)"));
    }
  }
  data->x.push_back(x);
  data->y.push_back(y);
  if (iw > 0) data->w.push_back(weight);
}

std::string data_line_rule(int ii) {
  return "the most a line of a data file may hold with ii = " + std::to_string(ii);
}

// The data file's lines in order, as parse_data states. The rows are counted as they come, and
// converted until the first fault in one, which is kept aside: it is reported only when the
// whole file is known to be within Nmax, since too many rows are reported first.
DataFile read_rows(LineReader& lines, const std::string& name, const RunControl& control, int Nmax,
                   lsq::Weights Weights) {
  const int iw = Weights != lsq::Weights::none ? control.iw : 0;
  DataFile data;
  Line line;
  if (lines.next(&line)) {
    data.Title.assign(line.begin, line.end);
    const char* p = line.begin;
    int numbers = 0;
    for (double value = 0.0; numbers < control.ii; numbers++) {
      const char* start = skip_blanks(p, line.end);
      p = scan_double(start, line.end, &value);
      if (p == start || !std::isfinite(value) || (p < line.end && !is_blank(*p))) break;
    }
    data.title_is_a_row = numbers == control.ii;
  }
  const long long most = static_cast<long long>(Nmax) - 2;
  long long rows = 0;
  std::optional<InputError> fault;
  data.x.assign(1, 0.0);  // the columns are 1-based
  data.y.assign(1, 0.0);
  if (iw > 0) data.w.assign(1, 0.0);
  while (lines.next(&line)) {
    if (is_blank_line(line)) continue;
    if (++rows > most) throw TooManyDataRows{Nmax};
    if (fault) continue;
    // Room for as many rows as the size of the file suggests, from the bytes that the first rows
    // take (and a quarter more), so that the columns are seldom copied as they grow.
    if (rows == 1 << 16 && lines.size() > lines.offset()) {
      const double expected = rows * 1.25 * static_cast<double>(lines.size()) / lines.offset();
      const auto room = 1 + static_cast<std::size_t>(std::min(expected, static_cast<double>(most)));
      data.x.reserve(room);
      data.y.reserve(room);
      if (iw > 0) data.w.reserve(room);
    }
    try {
      parse_row(line, name, control, iw, Weights, &data);
    } catch (const InputError& error) {
      fault = error;
    }
  }
  if (rows == 0) input_fault(name, 0, "holds no data rows after its title line");
  if (fault) throw *fault;
  return data;
}

}  // namespace

DataFile parse_data(std::string_view text, const std::string& name, const RunControl& control,
                    int Nmax, lsq::Weights Weights) {
  LineReader lines(text, name, data_line_limit(control.ii), data_line_rule(control.ii));
  return read_rows(lines, name, control, Nmax, Weights);
}

DataFile read_data(const std::string& name, const RunControl& control, int Nmax,
                   lsq::Weights Weights) {
  OpenFile f = open_for_reading(name);
  LineReader lines(f.get(), name, data_line_limit(control.ii), data_line_rule(control.ii));
  return read_rows(lines, name, control, Nmax, Weights);
}

std::vector<double> parse_knots(std::string_view text, const std::string& name) {
  std::vector<double> knots;
  LineReader lines(text, name, max_settings_file, "the most a settings or knots file may hold");
  Line line;
  lines.next(&line);  // heading
  while (lines.next(&line)) {
    if (is_blank_line(line)) continue;
    if (knots.size() == max_knots)
      input_fault(name, line.number,
                  "holds more than " + std::to_string(max_knots) +
                      " knots, the most a knots file may hold");
    const char* p = skip_blanks(line.begin, line.end);
    double value = 0.0;
    read_finite(p, line.end, &value, name, line.number, "the knot");
    if (!knots.empty() && value < knots.back())
      input_fault(name, line.number,
                  "the knot " + shown(p, line.end) +
                      " is below the knot before it; knots must be in ascending order");
    knots.push_back(value);
  }
  if (knots.size() < 2)
    input_fault(name, 0,
                "holds " + std::to_string(knots.size()) + " knot" + (knots.size() == 1 ? "" : "s") +
                    "; at least 2 are needed");
  return knots;
}
