#include "core/format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace dunelo {
namespace {

struct FormatCase {
  double value;
  const char* text;
};

class FormatDecimalTest : public testing::TestWithParam<FormatCase> {};

TEST_P(FormatDecimalTest, ShortestRoundTripWithFraction) {
  EXPECT_EQ(formatDecimal(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, FormatDecimalTest,
    testing::Values(FormatCase{12.0, "12.0"}, FormatCase{-3.5, "-3.5"}, FormatCase{0.1, "0.1"},
                    FormatCase{0.0, "0.0"}, FormatCase{-0.0, "-0.0"},
                    FormatCase{1440.0, "1440.0"}, FormatCase{0.30000000000000004,
                                                             "0.30000000000000004"},
                    FormatCase{1e20, "1e+20"}, FormatCase{0.00001, "1e-05"},
                    FormatCase{std::numeric_limits<double>::infinity(), "inf"},
                    FormatCase{std::nan(""), "nan"}));

TEST(FormatDecimal, ReadsBackToTheSameDouble) {
  for (double v : {1.0 / 3.0, 2.0 / 3.0, 123456.789, -98765.4321, 0.19000000000000006}) {
    EXPECT_EQ(std::stod(formatDecimal(v)), v) << formatDecimal(v);
  }
}

}  // namespace
}  // namespace dunelo
