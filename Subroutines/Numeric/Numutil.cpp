#include "Numutil.hpp"

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {
std::atomic<NumerrorNote> numerror_note{nullptr};
}  // namespace

NumerrorNote set_numerror_note(NumerrorNote note) { return numerror_note.exchange(note); }

void numerror(const char* error_text) {
  std::fprintf(stderr, "Numerical run-time error...\n");
  std::fprintf(stderr, "%s\n", error_text);
  std::fprintf(stderr, "...now exiting to system...\n");
  if (NumerrorNote note = numerror_note.load()) note();
  std::exit(1);  // the normal exit path flushes and closes every open stream
}

namespace {

[[gnu::format(printf, 1, 2)]] [[noreturn]] void fail(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  numerror(text);
}

// Number of indices lo..hi; at least `least`, which is 0 for a range that may be empty.
std::size_t extent(const char* who, const char* what, long lo, long hi, long least) {
  long count = 0;
  if (__builtin_sub_overflow(hi, lo, &count) || __builtin_add_overflow(count, 1L, &count))
    fail("%s: %s range %ld..%ld is too large", who, what, lo, hi);
  if (count < least) {
    if (least == 0)
      fail("%s: %s range %ld..%ld is invalid: the upper bound is below the lower bound minus 1",
           who, what, lo, hi);
    fail("%s: %s range %ld..%ld must hold at least %ld index", who, what, lo, hi, least);
  }
  return static_cast<std::size_t>(count);
}

std::size_t product(const char* who, std::size_t a, std::size_t b) {
  std::size_t p = 0;
  if (__builtin_mul_overflow(a, b, &p)) fail("%s: %zu x %zu elements is too large", who, a, b);
  return p;
}

// One block of `count` payload elements plus the slack element in front of them.
template <class T>
T* obtain(const char* who, std::size_t count) {
  std::size_t bytes = product(who, count + 1, sizeof(T));
  void* block = std::malloc(bytes);
  if (block == nullptr) fail("%s: allocation of %zu bytes failed", who, bytes);
  return static_cast<T*>(block);
}

// The handles below point outside their blocks when the lower bound is not 1: the offset that
// makes v[nl] the block's element 1 is the whole point of the family.
template <class T>
T* offset_vector(const char* who, long nl, long nh) {
  return obtain<T>(who, extent(who, "index", nl, nh, 0)) + 1 - nl;
}

template <class T>
void free_offset_vector(T* v, long nl) {
  std::free(v + nl - 1);
}

template <class T>
T** offset_matrix(const char* who, long nrl, long nrh, long ncl, long nch) {
  std::size_t nrow = extent(who, "row", nrl, nrh, 1);
  std::size_t ncol = extent(who, "column", ncl, nch, 0);
  T** m = obtain<T*>(who, nrow) + 1 - nrl;
  m[nrl] = obtain<T>(who, product(who, nrow, ncol)) + 1 - ncl;
  for (long i = nrl + 1; i <= nrh; i++) m[i] = m[i - 1] + ncol;
  return m;
}

template <class T>
void free_offset_matrix(T** m, long nrl, long ncl) {
  std::free(m[nrl] + ncl - 1);
  std::free(m + nrl - 1);
}

template <class T>
T*** offset_array3(const char* who, long nrl, long nrh, long ncl, long nch, long ndl, long ndh) {
  std::size_t nrow = extent(who, "first", nrl, nrh, 1);
  std::size_t ncol = extent(who, "second", ncl, nch, 1);
  std::size_t ndep = extent(who, "third", ndl, ndh, 0);
  std::size_t plane = product(who, ncol, ndep);
  T*** t = obtain<T**>(who, nrow) + 1 - nrl;
  t[nrl] = obtain<T*>(who, product(who, nrow, ncol)) + 1 - ncl;
  t[nrl][ncl] = obtain<T>(who, product(who, nrow, plane)) + 1 - ndl;
  for (long j = ncl + 1; j <= nch; j++) t[nrl][j] = t[nrl][j - 1] + ndep;
  for (long i = nrl + 1; i <= nrh; i++) {
    t[i] = t[i - 1] + ncol;
    t[i][ncl] = t[i - 1][ncl] + plane;
    for (long j = ncl + 1; j <= nch; j++) t[i][j] = t[i][j - 1] + ndep;
  }
  return t;
}

template <class T>
void free_offset_array3(T*** t, long nrl, long ncl, long ndl) {
  std::free(t[nrl][ncl] + ndl - 1);
  std::free(t[nrl] + ncl - 1);
  std::free(t + nrl - 1);
}

}  // namespace

float* vector(long nl, long nh) { return offset_vector<float>("vector", nl, nh); }
int* ivector(long nl, long nh) { return offset_vector<int>("ivector", nl, nh); }
unsigned char* cvector(long nl, long nh) { return offset_vector<unsigned char>("cvector", nl, nh); }
unsigned long* lvector(long nl, long nh) { return offset_vector<unsigned long>("lvector", nl, nh); }
double* dvector(long nl, long nh) { return offset_vector<double>("dvector", nl, nh); }

float** matrix(long nrl, long nrh, long ncl, long nch) {
  return offset_matrix<float>("matrix", nrl, nrh, ncl, nch);
}
double** dmatrix(long nrl, long nrh, long ncl, long nch) {
  return offset_matrix<double>("dmatrix", nrl, nrh, ncl, nch);
}
int** imatrix(long nrl, long nrh, long ncl, long nch) {
  return offset_matrix<int>("imatrix", nrl, nrh, ncl, nch);
}
char** cmatrix(long nrl, long nrh, long ncl, long nch) {
  return offset_matrix<char>("cmatrix", nrl, nrh, ncl, nch);
}

float** submatrix(float** a, long oldrl, long oldrh, long oldcl, long /*oldch*/, long newrl,
                  long newcl) {
  std::size_t nrow = extent("submatrix", "row", oldrl, oldrh, 1);
  long ncol = oldcl - newcl;
  float** m = obtain<float*>("submatrix", nrow) + 1 - newrl;
  for (long i = oldrl, j = newrl; i <= oldrh; i++, j++) m[j] = a[i] + ncol;
  return m;
}

float** convert_matrix(float* a, long nrl, long nrh, long ncl, long nch) {
  long nrow = static_cast<long>(extent("convert_matrix", "row", nrl, nrh, 1));
  long ncol = static_cast<long>(extent("convert_matrix", "column", ncl, nch, 0));
  float** m = obtain<float*>("convert_matrix", static_cast<std::size_t>(nrow)) + 1 - nrl;
  m[nrl] = a - ncl;
  for (long i = 1, j = nrl + 1; i < nrow; i++, j++) m[j] = m[j - 1] + ncol;
  return m;
}

float*** f3tensor(long nrl, long nrh, long ncl, long nch, long ndl, long ndh) {
  return offset_array3<float>("f3tensor", nrl, nrh, ncl, nch, ndl, ndh);
}
double*** Array3(long nrl, long nrh, long ncl, long nch, long ndl, long ndh) {
  return offset_array3<double>("Array3", nrl, nrh, ncl, nch, ndl, ndh);
}

void free_vector(float* v, long nl, long) { free_offset_vector(v, nl); }
void free_ivector(int* v, long nl, long) { free_offset_vector(v, nl); }
void free_cvector(unsigned char* v, long nl, long) { free_offset_vector(v, nl); }
void free_lvector(unsigned long* v, long nl, long) { free_offset_vector(v, nl); }
void free_dvector(double* v, long nl, long) { free_offset_vector(v, nl); }

void free_matrix(float** m, long nrl, long, long ncl, long) { free_offset_matrix(m, nrl, ncl); }
void free_dmatrix(double** m, long nrl, long, long ncl, long) { free_offset_matrix(m, nrl, ncl); }
void free_imatrix(int** m, long nrl, long, long ncl, long) { free_offset_matrix(m, nrl, ncl); }
void free_cmatrix(char** m, long nrl, long, long ncl, long) { free_offset_matrix(m, nrl, ncl); }

void free_submatrix(float** b, long nrl, long, long, long) { std::free(b + nrl - 1); }
void free_convert_matrix(float** b, long nrl, long, long, long) { std::free(b + nrl - 1); }

void free_f3tensor(float*** t, long nrl, long, long ncl, long, long ndl, long) {
  free_offset_array3(t, nrl, ncl, ndl);
}
void free_Array3(double*** t, long nrl, long, long ncl, long, long ndl, long) {
  free_offset_array3(t, nrl, ncl, ndl);
}
