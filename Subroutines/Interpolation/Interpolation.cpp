#include "Interpolation.hpp"

int ilo = 0;

int interval(double* xt, int lxt, double x) {
  int ihi = ilo + 1;
  if (ihi >= lxt) {
    if (x >= xt[lxt]) return lxt;
    if (lxt <= 1) return 0;
    ilo = lxt - 1;
    ihi = lxt;
  }
  if (x >= xt[ihi]) {
    // Hunt upwards with doubling steps until x < xt[ihi].
    for (int istep = 1;; istep *= 2) {
      ilo = ihi;
      ihi = istep >= lxt - ilo ? lxt : ilo + istep;  // no int overflow near INT_MAX
      if (ihi >= lxt) {
        if (x >= xt[lxt]) return lxt;
        ihi = lxt;
        break;
      }
      if (x < xt[ihi]) break;
    }
  } else {
    if (x >= xt[ilo]) return ilo;
    // Hunt downwards with doubling steps until xt[ilo] <= x.
    for (int istep = 1;; istep *= 2) {
      ihi = ilo;
      ilo = ihi - istep;
      if (ilo <= 0) {
        ilo = 1;
        if (x < xt[1]) return 0;
        break;
      }
      if (x >= xt[ilo]) break;
    }
  }
  // Bisect the bracket xt[ilo] <= x < xt[ihi].
  for (;;) {
    int middle = (ilo + ihi) / 2;
    if (middle == ilo) return ilo;
    if (x < xt[middle])
      ihi = middle;
    else
      ilo = middle;
  }
}
