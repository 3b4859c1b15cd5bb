// Number formatting for log lines.
#pragma once

#include <string>

namespace dunelo {

// The shortest decimal text that reads back to the same double, always with a fractional part:
// 12.0, -3.5, 0.1. Very large or very small magnitudes use an exponent (1e+20, 5e-324); the
// non-finite values print as inf, -inf and nan.
std::string formatDecimal(double value);

}  // namespace dunelo
