#include "Optimise.hpp"

#include <cmath>

#include "Numutil.hpp"

int ncom = 0;
double* pcom = nullptr;
double* xicom = nullptr;
ObjectiveFunction nrfunc = nullptr;

namespace {

// Written decimal constants, not their exact mathematical values: the digits of every fit depend
// on them.
constexpr double GOLD = 1.618034;    // default magnification of mnbrak's outward step
constexpr double GLIMIT = 100.0;     // largest magnification of a parabolic step in mnbrak
constexpr float TINY = 1.0e-20f;     // floor of mnbrak's denominator, held in single precision
constexpr double CGOLD = 0.3819660;  // golden-section fraction of brent
constexpr double ZEPS = 1.0e-10;     // absolute part of brent's tolerance
constexpr int BRENT_ITMAX = 100;
constexpr double LINMIN_TOL = 2.0e-4;
constexpr int POWELL_ITMAX = 1000;
constexpr int FRPRMN_ITMAX = 200;
constexpr double FRPRMN_EPS = 1.0e-10;

double SQR(double a) { return a * a; }

// The larger of |q - r| and the floor, compared in single precision, doubled and carrying the
// sign of q - r. The rounding of |q - r| to float is deliberate: it moves the parabola's vertex,
// and with it every later evaluation point.
double parabola_denominator(double q_minus_r) {
  float size = static_cast<float>(std::fabs(q_minus_r));
  float floor = TINY;
  float larger = size > floor ? size : floor;
  double magnitude = std::fabs(static_cast<double>(larger));
  return 2.0 * (q_minus_r >= 0.0 ? magnitude : -magnitude);
}

// Storage kept between line searches: allocating per f1dim call would dominate small objectives,
// and reuse changes neither the evaluation points nor their order.
struct LineStorage {
  double* p = nullptr;
  double* xi = nullptr;
  double* point = nullptr;
  int capacity = 0;

  void reserve(int n) {
    if (n <= capacity) return;
    if (capacity > 0) {
      free_dvector(point, 1, capacity);
      free_dvector(xi, 1, capacity);
      free_dvector(p, 1, capacity);
    }
    p = dvector(1, n);
    xi = dvector(1, n);
    point = dvector(1, n);
    capacity = n;
  }
} line;

}  // namespace

void mnbrak(double* ax, double* bx, double* cx, double* fa, double* fb, double* fc,
            LineFunction func) {
  double u, fu;  // u: the trial point, fu its value
  double r, q;   // the parabola through a, b and c, as in brent
  double ulim;   // farthest point a parabolic step may reach
  double dum;    // exchange scratch
  *fa = func(*ax);
  *fb = func(*bx);
  if (*fb > *fa) {  // search downhill from a to b
    dum = *ax, *ax = *bx, *bx = dum;
    dum = *fb, *fb = *fa, *fa = dum;
  }
  *cx = *bx + GOLD * (*bx - *ax);
  *fc = func(*cx);
  while (*fb > *fc) {
    r = (*bx - *ax) * (*fb - *fc);
    q = (*bx - *cx) * (*fb - *fa);
    u = *bx - ((*bx - *cx) * q - (*bx - *ax) * r) / parabola_denominator(q - r);
    ulim = *bx + GLIMIT * (*cx - *bx);
    if ((*bx - u) * (u - *cx) > 0.0) {  // parabolic u between b and c
      fu = func(u);
      if (fu < *fc) {
        *ax = *bx;
        *bx = u;
        *fa = *fb;
        *fb = fu;
        return;
      } else if (fu > *fb) {
        *cx = u;
        *fc = fu;
        return;
      }
      u = *cx + GOLD * (*cx - *bx);
      fu = func(u);
    } else if ((*cx - u) * (u - ulim) > 0.0) {  // between c and the limit
      fu = func(u);
      if (fu < *fc) {
        *bx = *cx;
        *cx = u;
        u = *cx + GOLD * (*cx - *bx);
        *fb = *fc;
        *fc = fu;
        fu = func(u);
      }
    } else if ((u - ulim) * (ulim - *cx) >= 0.0) {  // at or beyond the limit
      u = ulim;
      fu = func(u);
    } else {
      u = *cx + GOLD * (*cx - *bx);
      fu = func(u);
    }
    *ax = *bx, *bx = *cx, *cx = u;
    *fa = *fb, *fb = *fc, *fc = fu;
  }
}

double brent(double ax, double bx, double cx, LineFunction f, double tol, double* xmin) {
  double a, b;        // the bracket, a < b
  double x, fx;       // x: best point so far (the least value, the latest on ties)
  double w, fw;       // w: second best point
  double v, fv;       // v: previous value of w
  double u, fu;       // u: the latest trial point
  double xm;          // midpoint of the bracket
  double tol1, tol2;  // absolute tolerance at x, and twice it
  double d = 0.0;     // the last step
  double e = 0.0;     // the step before the last; 0 forces a golden-section step first
  double etemp;       // e while a parabolic step is being judged
  double p, q, r;     // the parabolic step is p / q
  a = ax < cx ? ax : cx;
  b = ax > cx ? ax : cx;
  x = w = v = bx;
  fw = fv = fx = f(x);
  for (int iter = 1; iter <= BRENT_ITMAX; iter++) {
    xm = 0.5 * (a + b);
    tol1 = tol * std::fabs(x) + ZEPS;
    tol2 = 2.0 * tol1;
    if (std::fabs(x - xm) <= (tol2 - 0.5 * (b - a))) {
      *xmin = x;
      return fx;
    }
    bool golden = true;
    if (std::fabs(e) > tol1) {  // try a parabola through x, w and v
      r = (x - w) * (fx - fv);
      q = (x - v) * (fx - fw);
      p = (x - v) * q - (x - w) * r;
      q = 2.0 * (q - r);
      if (q > 0.0) p = -p;
      q = std::fabs(q);
      etemp = e;
      e = d;
      if (!(std::fabs(p) >= std::fabs(0.5 * q * etemp) || p <= q * (a - x) || p >= q * (b - x))) {
        golden = false;
        d = p / q;
        u = x + d;
        if (u - a < tol2 || b - u < tol2) d = xm - x >= 0.0 ? tol1 : -tol1;
      }
    }
    if (golden) {
      e = x >= xm ? a - x : b - x;
      d = CGOLD * e;
    }
    u = std::fabs(d) >= tol1 ? x + d : (d >= 0.0 ? x + tol1 : x - tol1);
    fu = f(u);
    if (fu <= fx) {  // ties go to the new point
      if (u >= x)
        a = x;
      else
        b = x;
      v = w, w = x, x = u;
      fv = fw, fw = fx, fx = fu;
    } else {
      if (u < x)
        a = u;
      else
        b = u;
      if (fu <= fw || w == x) {
        v = w;
        w = u;
        fv = fw;
        fw = fu;
      } else if (fu <= fv || v == x || v == w) {
        v = u;
        fv = fu;
      }
    }
  }
  numerror("Too many iterations in brent");
}

double f1dim(double x) {
  double* xt = line.point;
  for (int j = 1; j <= ncom; j++) xt[j] = pcom[j] + x * xicom[j];
  return nrfunc(xt);
}

void linmin(double* p, double* xi, int n, double* fret, ObjectiveFunction func) {
  double ax, xx, bx;  // bracket along the line, in units of xi
  double fa, fx, fb;  // their values
  double xmin;        // brent's abscissa of the least value
  line.reserve(n);
  ncom = n;
  pcom = line.p;
  xicom = line.xi;
  nrfunc = func;
  for (int j = 1; j <= n; j++) {
    pcom[j] = p[j];
    xicom[j] = xi[j];
  }
  ax = 0.0;
  xx = 1.0;
  mnbrak(&ax, &xx, &bx, &fa, &fx, &fb, f1dim);
  *fret = brent(ax, xx, bx, f1dim, LINMIN_TOL, &xmin);
  for (int j = 1; j <= n; j++) {
    xi[j] *= xmin;
    p[j] += xi[j];
  }
}

void Powell(double* p, double** xi, int n, double ftol, int* iter, double* fret,
            ObjectiveFunction func) {
  double* pt = dvector(1, n);   // the point where the current sweep started
  double* ptt = dvector(1, n);  // that start reflected through the sweep's end
  double* xit = dvector(1, n);  // the direction being searched
  *fret = func(p);
  for (int j = 1; j <= n; j++) pt[j] = p[j];
  for (*iter = 1;; ++(*iter)) {
    double fp = *fret;  // value at the start of the sweep
    int ibig = 0;       // the direction of the largest decrease
    double del = 0.0;   // largest decrease of the sweep
    for (int i = 1; i <= n; i++) {
      for (int j = 1; j <= n; j++) xit[j] = xi[j][i];
      double fptt = *fret;
      linmin(p, xit, n, fret, func);
      if (std::fabs(fptt - *fret) > del) {
        del = std::fabs(fptt - *fret);
        ibig = i;
      }
    }
    if (2.0 * std::fabs(fp - *fret) <= ftol * (std::fabs(fp) + std::fabs(*fret))) {
      free_dvector(xit, 1, n);
      free_dvector(ptt, 1, n);
      free_dvector(pt, 1, n);
      return;
    }
    if (*iter == POWELL_ITMAX) numerror("powell exceeding maximum iterations.");
    for (int j = 1; j <= n; j++) {
      ptt[j] = 2.0 * p[j] - pt[j];  // extrapolated point
      xit[j] = p[j] - pt[j];        // the sweep's displacement
      pt[j] = p[j];
    }
    double fptt = func(ptt);
    // Powell's test: take the sweep's displacement as a new direction, in place of the one of
    // largest decrease, only if the extrapolated point is lower and the decrease along that
    // direction is not the bulk of the sweep's.
    if (fptt < fp) {
      double t = 2.0 * (fp - 2.0 * (*fret) + fptt) * SQR(fp - (*fret) - del) - del * SQR(fp - fptt);
      if (t < 0.0) {
        linmin(p, xit, n, fret, func);
        for (int j = 1; j <= n; j++) {
          xi[j][ibig] = xi[j][n];
          xi[j][n] = xit[j];
        }
      }
    }
  }
}

void Frprmn(double* p, int n, double ftol, int* iter, double* fret, ObjectiveFunction func,
            GradientRoutine dfunc) {
  double* g = dvector(1, n);   // minus the previous gradient
  double* h = dvector(1, n);   // the previous search direction
  double* xi = dvector(1, n);  // the gradient, then the next search direction
  double fp = func(p);
  dfunc(p, xi);
  for (int j = 1; j <= n; j++) {
    g[j] = -xi[j];
    xi[j] = h[j] = g[j];
  }
  for (int its = 1; its <= FRPRMN_ITMAX; its++) {
    *iter = its;
    linmin(p, xi, n, fret, func);
    bool done =
        2.0 * std::fabs(*fret - fp) <= ftol * (std::fabs(*fret) + std::fabs(fp) + FRPRMN_EPS);
    if (!done) {
      fp = func(p);
      dfunc(p, xi);
      double gg = 0.0, dgg = 0.0;
      for (int j = 1; j <= n; j++) {
        gg += g[j] * g[j];
        dgg += (xi[j] + g[j]) * xi[j];  // Polak-Ribiere numerator
      }
      done = gg == 0.0;
      if (!done) {
        double gam = dgg / gg;
        for (int j = 1; j <= n; j++) {
          g[j] = -xi[j];
          xi[j] = h[j] = g[j] + gam * h[j];
        }
      }
    }
    if (done) {
      free_dvector(xi, 1, n);
      free_dvector(h, 1, n);
      free_dvector(g, 1, n);
      return;
    }
  }
  numerror("Too many iterations in frprmn");
}
