#include "pipeline/distributions.h"

#include <boost/math/special_functions/beta.hpp>
#include <boost/math/special_functions/erf.hpp>
#include <boost/math/special_functions/gamma.hpp>
#include <cmath>

namespace vordak::pipeline {

double normal_upper_tail(double z) { return 0.5 * boost::math::erfc(z / std::sqrt(2.0)); }

double chi_square_upper_tail(double x, double degrees_of_freedom) {
  if (x <= 0) return 1.0;
  return boost::math::gamma_q(degrees_of_freedom / 2, x / 2);
}

double beta_cdf(double x, double a, double b) {
  if (x <= 0) return 0.0;
  if (x >= 1) return 1.0;
  return boost::math::ibeta(a, b, x);
}

double beta_quantile(double p, double a, double b) { return boost::math::ibeta_inv(a, b, p); }

}  // namespace vordak::pipeline
