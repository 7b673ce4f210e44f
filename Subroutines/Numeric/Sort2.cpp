#include "Sort2.hpp"

#include <thread>
#include <utility>

#include "Numutil.hpp"

namespace {
constexpr int M = 7;          // parts with ir - l < M are finished by straight insertion
constexpr int NSTACK = 1000;  // stack positions, two per pending part

void exchange(double* arr, double* brr, int i, int j) {
  std::swap(arr[i], arr[j]);
  std::swap(brr[i], brr[j]);
}

// Partitions arr[l..ir] (ir - l >= M) about the median of arr[l], arr[(l + ir) / 2] and
// arr[ir]: afterwards the pivot is at j, arr[l..j-1] <= pivot <= arr[i..ir], and what lies
// between j and i equals the pivot and is in place.
void partition(double* arr, double* brr, int l, int ir, int& i, int& j) {
  int k = (l + ir) >> 1;
  exchange(arr, brr, k, l + 1);
  if (arr[l + 1] > arr[ir]) exchange(arr, brr, l + 1, ir);
  if (arr[l] > arr[ir]) exchange(arr, brr, l, ir);
  if (arr[l + 1] > arr[l]) exchange(arr, brr, l + 1, l);
  i = l + 1;
  j = ir;
  double a = arr[l], b = brr[l];
  for (;;) {
    do {
      i++;
    } while (arr[i] < a);
    do {
      j--;
    } while (arr[j] > a);
    if (j < i) break;
    exchange(arr, brr, i, j);
  }
  arr[l] = arr[j];
  arr[j] = a;
  brr[l] = brr[j];
  brr[j] = b;
}

// Sorts arr[l..ir] with brr alongside.
void sort_part(double* arr, double* brr, int l, int ir) {
  int* istack = ivector(1, NSTACK);
  int jstack = 0;
  for (;;) {
    if (ir - l < M) {
      for (int j = l + 1; j <= ir; j++) {
        double a = arr[j], b = brr[j];
        int i = j - 1;
        // Bounded by the start of the array, not by l: everything left of l is already in place
        // (and at most equal to arr[l..ir], so the search stops at l - 1).
        for (; i >= 1; i--) {
          if (arr[i] <= a) break;
          arr[i + 1] = arr[i];
          brr[i + 1] = brr[i];
        }
        arr[i + 1] = a;
        brr[i + 1] = b;
      }
      if (jstack == 0) {
        free_ivector(istack, 1, NSTACK);
        return;
      }
      ir = istack[jstack];
      l = istack[jstack - 1];
      jstack -= 2;
    } else {
      int i, j;
      partition(arr, brr, l, ir, i, j);
      jstack += 2;
      if (jstack > NSTACK) numerror("NSTACK too small in sort2.");
      if (ir - i + 1 >= j - l) {
        istack[jstack] = ir;
        istack[jstack - 1] = i;
        ir = j - 1;
      } else {
        istack[jstack] = j - 1;
        istack[jstack - 1] = l;
        l = i;
      }
    }
  }
}

// The two parts of a partition share no element, and what sort_part does to one neither reads
// nor writes the other, so the order in which they are sorted, or sorting them at once, changes
// nothing: large parts are split between threads.
void sort_parts(double* arr, double* brr, int l, int ir, int threads) {
  constexpr int least_to_split = 1 << 16;
  if (threads <= 1 || ir - l + 1 < least_to_split) return sort_part(arr, brr, l, ir);
  int i, j;
  partition(arr, brr, l, ir, i, j);
  std::thread right(sort_parts, arr, brr, i, ir, threads / 2);
  sort_parts(arr, brr, l, j - 1, threads - threads / 2);
  right.join();
}

}  // namespace

void sort2(int n, double* arr, double* brr, int threads) {
  // Keys that already ascend strictly have one sorted order only, which is where they are: the
  // moves below would give it back unchanged, so they are skipped (measured series mostly come
  // in order). Equal keys always take the full path, whose order for them is part of the output.
  int ascending = 1;
  while (ascending < n && arr[ascending] < arr[ascending + 1]) ascending++;
  if (ascending >= n) return;
  sort_parts(arr, brr, 1, n, threads);
}
