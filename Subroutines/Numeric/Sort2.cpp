#include "Sort2.hpp"

#include <utility>

#include "Numutil.hpp"

namespace {
constexpr int M = 7;          // parts with ir - l < M are finished by straight insertion
constexpr int NSTACK = 1000;  // stack positions, two per pending part

void exchange(double* arr, double* brr, int i, int j) {
  std::swap(arr[i], arr[j]);
  std::swap(brr[i], brr[j]);
}
}  // namespace

void sort2(int n, double* arr, double* brr) {
  // Keys that already ascend strictly have one sorted order only, which is where they are: the
  // moves below would give it back unchanged, so they are skipped (measured series mostly come
  // in order). Equal keys always take the full path, whose order for them is part of the output.
  int ascending = 1;
  while (ascending < n && arr[ascending] < arr[ascending + 1]) ascending++;
  if (ascending >= n) return;
  int* istack = ivector(1, NSTACK);
  int l = 1, ir = n, jstack = 0;
  for (;;) {
    if (ir - l < M) {
      for (int j = l + 1; j <= ir; j++) {
        double a = arr[j], b = brr[j];
        int i = j - 1;
        // Bounded by the start of the array, not by l: everything left of l is already in place.
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
      int k = (l + ir) >> 1;
      exchange(arr, brr, k, l + 1);
      if (arr[l + 1] > arr[ir]) exchange(arr, brr, l + 1, ir);
      if (arr[l] > arr[ir]) exchange(arr, brr, l, ir);
      if (arr[l + 1] > arr[l]) exchange(arr, brr, l + 1, l);
      int i = l + 1, j = ir;
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
