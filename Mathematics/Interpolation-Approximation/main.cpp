// splinefit: fits a least-squares spline to the data named in Control.dat (see Splinefit.hpp).
#include "Splinefit.hpp"

int main() { return splinefit_main(); }
