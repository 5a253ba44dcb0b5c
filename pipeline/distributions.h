#pragma once

// The distribution functions behind the validation tests: the standard normal and
// chi-square tails, and the beta distribution (the regularized incomplete beta function
// and its inverse). They come from Boost.Math (header-only, Debian's libboost-dev), kept
// to this one file so that its headers compile once.

namespace vordak::pipeline {

// P(Z >= z) for a standard normal Z.
double normal_upper_tail(double z);

// P(X >= x) for X chi-square with `degrees_of_freedom` (> 0); 1 for x <= 0.
double chi_square_upper_tail(double x, double degrees_of_freedom);

// P(X <= x) for X ~ Beta(a, b), a, b > 0: the regularized incomplete beta I_x(a, b);
// 0 below 0 and 1 above 1.
double beta_cdf(double x, double a, double b);

// The x with beta_cdf(x, a, b) = p, for p in [0, 1] and a, b > 0.
double beta_quantile(double p, double a, double b);

}  // namespace vordak::pipeline
