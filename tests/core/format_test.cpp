#include "core/format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace dunelo {
namespace {

TEST(FormatDecimal, ShortestRoundTripWithFraction) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::pair<double, const char*> cases[] = {
      {12.0, "12.0"},  {-3.5, "-3.5"},     {0.1, "0.1"},       {0.0, "0.0"}, {-0.0, "-0.0"},
      {1e20, "1e+20"}, {0.00001, "1e-05"}, {1440.0, "1440.0"}, {inf, "inf"}, {std::nan(""), "nan"}};
  for (const auto& [value, text] : cases) EXPECT_EQ(formatDecimal(value), text) << text;
  EXPECT_EQ(formatDecimal(0.30000000000000004), "0.30000000000000004");
}

TEST(FormatDecimal, ReadsBackToTheSameDouble) {
  for (double v : {1.0 / 3.0, 2.0 / 3.0, 123456.789, -98765.4321, 0.19000000000000006})
    EXPECT_EQ(std::stod(formatDecimal(v)), v) << formatDecimal(v);
}

}  // namespace
}  // namespace dunelo
