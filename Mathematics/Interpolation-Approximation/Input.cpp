#include "Input.hpp"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "Parallel.hpp"

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

// Splits a file into lines ended by LF, CR LF or a lone CR; a last line without a line break
// is a line like any other. A text without CR is split by memchr, which scans many bytes at once.
class Lines {
 public:
  explicit Lines(std::string_view text) : Lines(text.data(), text.data() + text.size(), 1) {}
  // The lines from begin to end (whole lines), the first numbered first_number.
  Lines(const char* begin, const char* end, int first_number)
      : p_(begin),
        end_(end),
        number_(first_number - 1),
        only_lf_(begin == end ||
                 std::memchr(begin, '\r', static_cast<std::size_t>(end - begin)) == nullptr) {}
  const char* position() const { return p_; }

  bool next(Line* line) {
    if (p_ == end_) return false;
    line->begin = p_;
    line->number = ++number_;
    if (only_lf_) {
      const void* lf = std::memchr(p_, '\n', static_cast<std::size_t>(end_ - p_));
      line->end = lf != nullptr ? static_cast<const char*>(lf) : end_;
      p_ = lf != nullptr ? line->end + 1 : end_;
      return true;
    }
    while (p_ < end_ && !is_line_end(*p_)) p_++;
    line->end = p_;
    if (p_ < end_) p_ += (*p_ == '\r' && p_ + 1 < end_ && p_[1] == '\n') ? 2 : 1;
    return true;
  }

 private:
  const char* p_;
  const char* end_;
  int number_ = 0;
  bool only_lf_;
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
    {"iw", "column of a weight, 0 for none; not used by the fit", 0, 0, "from 0 to", true},
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
};

std::array<double, parameter_count> values_of(const ComputationalParameters& cp) {
  return {double(cp.Nout), double(cp.Precision), cp.criterion,      double(cp.Envelope),
          double(cp.Nmax), double(cp.Method),    double(cp.Weights)};
}

bool accepts(const Setting& setting, double value, int ii) {
  return value >= setting.low && value <= (setting.at_most_ii ? ii : setting.high);
}

namespace {

// A mapped file that another program cuts short while it is read raises SIGBUS at the first page
// beyond its new end. While a file is mapped, that signal ends the run as an input fault does:
// one line naming the file, status 2 (no output file is open while input is read).
char mapped_name[max_file_name + 1];
bool a_file_is_mapped = false;
struct sigaction before_mapping {};

extern "C" void mapped_file_cut_short(int) {
  const char* parts[] = {"splinefit: ", mapped_name, ": changed while it was read.\n"};
  for (const char* part : parts) {
    ssize_t ignored = write(STDERR_FILENO, part, std::strlen(part));
    (void)ignored;
  }
  _exit(2);
}

}  // namespace

FileText::FileText(FileText&& other) noexcept
    : read_(std::move(other.read_)),
      mapped_(std::exchange(other.mapped_, nullptr)),
      size_(other.size_),
      skip_(other.skip_) {}

FileText::~FileText() {
  if (mapped_ == nullptr) return;
  munmap(const_cast<char*>(mapped_), size_);
  sigaction(SIGBUS, &before_mapping, nullptr);
  a_file_is_mapped = false;
}

std::string_view FileText::text() const {
  std::string_view all = mapped_ != nullptr ? std::string_view(mapped_, size_) : read_;
  return all.substr(skip_);
}

FileText read_file(const std::string& name) {
  std::FILE* f = std::fopen(name.c_str(), "rb");
  if (f == nullptr)
    input_fault(name, 0, std::string("cannot be opened for reading: ") + std::strerror(errno));
  FileText file;
  // A large regular file is mapped, pages and all at once: no copy, and no fresh memory to
  // fault in. One at a time, since the guard against SIGBUS names one file.
  constexpr long long least_mapped = 1 << 20;
  struct stat info {};
  const bool regular = fstat(fileno(f), &info) == 0 && S_ISREG(info.st_mode);
  if (!a_file_is_mapped && regular && info.st_size >= least_mapped &&
      name.size() <= max_file_name) {
    void* at = mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ,
                    MAP_PRIVATE | MAP_POPULATE, fileno(f), 0);
    if (at != MAP_FAILED) {
      std::memcpy(mapped_name, name.c_str(), name.size() + 1);
      struct sigaction guard {};
      guard.sa_handler = mapped_file_cut_short;
      sigemptyset(&guard.sa_mask);
      sigaction(SIGBUS, &guard, &before_mapping);
      file.mapped_ = static_cast<const char*>(at);
      file.size_ = static_cast<std::size_t>(info.st_size);
      a_file_is_mapped = true;
    }
  }
  if (file.mapped_ == nullptr) {
    // A regular file in one read of its size, then whatever it may have grown by meanwhile.
    std::string& text = file.read_;
    if (regular && info.st_size > 0) {
      text.resize(static_cast<std::size_t>(info.st_size));
      text.resize(std::fread(text.data(), 1, text.size(), f));
    }
    char buffer[1 << 16];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, got);
  }
  int error = std::ferror(f) ? errno : 0;
  std::fclose(f);
  if (error != 0) input_fault(name, 0, std::string("cannot be read: ") + std::strerror(error));
  if (file.text().substr(0, 3) == "\xEF\xBB\xBF") file.skip_ = 3;
  return file;
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
  int* integers[] = {&cp.Nout, &cp.Precision, nullptr,    &cp.Envelope,
                     &cp.Nmax, &cp.Method,    &cp.Weights};
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
  return cp;
}

namespace {

// One thread's share of the data rows: whole lines from begin to end.
struct Chunk {
  const char* begin = nullptr;
  const char* end = nullptr;
  int lines = 0, first_line = 0;  // its lines, and the number in the file of the first
  long long rows = 0;             // lines that are not blank
  long long first_row = 0;        // rows before the chunk
  std::exception_ptr fault;       // the first fault in the chunk
};

// Splits text[begin, end) into `count` chunks of whole lines of about equal size.
std::vector<Chunk> chunks_of(const char* begin, const char* end, int count) {
  std::vector<Chunk> chunks;
  const char* at = begin;
  for (int k = 1; k <= count; k++) {
    const char* cut = k == count ? end : std::max(at, begin + (end - begin) * k / count);
    while (cut < end && cut > begin && !is_line_end(cut[-1])) cut++;
    if (cut < end && cut > begin && cut[-1] == '\r' && *cut == '\n') cut++;
    chunks.emplace_back();
    chunks.back().begin = at;
    chunks.back().end = at = cut;
  }
  return chunks;
}

// The row `line` into x[i], y[i] and, when iw > 0, w[i]: columns ix, iy and iw of its first ii
// finite numbers; no buffer of ii numbers, which may be huge.
void parse_row(const Line& line, const std::string& name, const RunControl& control, int iw,
               int Weights, std::size_t i, const DataColumns& data) {
  const char* p = line.begin;
  for (int k = 1; k <= control.ii; k++) {
    p = skip_blanks(p, line.end);
    if (p == line.end)
      input_fault(name, line.number,
                  "the row holds " + std::to_string(k - 1) + " number" + (k == 2 ? "" : "s") +
                      " where ii = " + std::to_string(control.ii) + " are needed");
    double value = 0.0;
    const char* start = p;
    p = read_finite(start, line.end, &value, name, line.number, "column", k);
    if (k == control.ix) data.x[i] = value;
    if (k == control.iy) data.y[i] = value;
    if (k == iw) {
      double weight = Weights == 1 ? value : 1.0 / (value * value);
      if (Weights == 1 ? !(value >= 0.0) : !(value > 0.0 && weight > 0.0 && std::isfinite(weight)))
        input_fault(
            name, line.number,
            "column " + std::to_string(k) + " holds " + shown(start, line.end) +
                (Weights == 1 ? ", a weight below 0 (Weights 1 needs weights of 0 or more)"
                              : ", not a usable standard deviation (Weights 2 needs "
                                "standard deviations above 0 whose 1 / sigma^2 is finite)"));
      data.w[i] = weight;
    }
  }
}

}  // namespace

DataFile parse_data(std::string_view text, const std::string& name, const RunControl& control,
                    int Nmax, int Weights) {
  DataFile data;
  DataFile title = parse_data(text, name, control, Nmax, Weights, [&](std::size_t rows) {
    data.x.resize(rows);
    data.y.resize(rows);
    if (Weights > 0 && control.iw > 0) data.w.resize(rows);
    return DataColumns{data.x.data(), data.y.data(), data.w.empty() ? nullptr : data.w.data()};
  });
  data.Title = std::move(title.Title);
  data.title_is_a_row = title.title_is_a_row;
  return data;
}

DataFile parse_data(std::string_view text, const std::string& name, const RunControl& control,
                    int Nmax, int Weights, const PlaceRows& place) {
  const int iw = Weights > 0 ? control.iw : 0;
  DataFile data;
  Lines lines(text);
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

  // The rows in chunks of whole lines, one per thread, counted first and converted only when
  // their number is within the limit; the first fault in file order is the one reported.
  const char* body = lines.position();
  const char* end = text.data() + text.size();
  std::vector<Chunk> chunks = chunks_of(body, end, parallel::workers(end - body, 1 << 20));
  parallel::run(static_cast<int>(chunks.size()), [&chunks](int k) {
    Chunk& chunk = chunks[static_cast<std::size_t>(k)];
    Lines part(chunk.begin, chunk.end, 1);
    Line row;
    int count = 0;  // counted here, not in the chunk, whose neighbour another thread writes
    long long rows = 0;
    for (; part.next(&row); count++) rows += !is_blank_line(row);
    chunk.lines = count;
    chunk.rows = rows;
  });
  long long rows = 0;
  int line_number = 2;  // the title is line 1
  for (Chunk& chunk : chunks) {
    chunk.first_line = line_number;
    line_number += chunk.lines;
    chunk.first_row = rows;
    rows += chunk.rows;
  }
  if (rows > static_cast<long long>(Nmax) - 2) throw TooManyDataRows{Nmax};
  if (rows == 0) input_fault(name, 0, "holds no data rows after its title line");

  // Each thread reads copies of what it needs, not the variables here: the calling thread's
  // loop writes next to them, and a line of memory written by one core and read by another
  // moves between them on every row.
  const DataColumns columns = place(static_cast<std::size_t>(rows));
  parallel::run(
      static_cast<int>(chunks.size()), [&chunks, &name, control, iw, Weights, columns](int k) {
        Chunk& chunk = chunks[static_cast<std::size_t>(k)];
        try {
          Lines part(chunk.begin, chunk.end, chunk.first_line);
          Line row;
          for (std::size_t i = static_cast<std::size_t>(chunk.first_row); part.next(&row);)
            if (!is_blank_line(row)) parse_row(row, name, control, iw, Weights, i++, columns);
        } catch (...) {
          chunk.fault = std::current_exception();
        }
      });
  for (const Chunk& chunk : chunks)
    if (chunk.fault) std::rethrow_exception(chunk.fault);
  return data;
}

std::vector<double> parse_knots(std::string_view text, const std::string& name) {
  constexpr int max_knots = 99;
  std::vector<double> knots;
  Lines lines(text);
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
