#include "support/number_format.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

using kvel_support::format_fixed6;
using kvel_support::format_shortest;

struct FormatCase {
  double value;
  const char* shortest;
  const char* fixed6;
};

const double kNegNaN = -std::numeric_limits<double>::quiet_NaN();

const FormatCase kCases[] = {
    {1.0, "1", "1.000000"},
    {2.5, "2.5", "2.500000"},
    {-0.5, "-0.5", "-0.500000"},
    {0.0, "0", "0.000000"},
    {-0.0, "-0", "-0.000000"},
    {1e-7, "0.0000001", "0.000000"},
    {1e20, "100000000000000000000", "100000000000000000000.000000"},
    {1e23, "100000000000000000000000", "99999999999999991611392.000000"},
    {0.1 + 0.2, "0.30000000000000004", "0.300000"},
    {123456.789, "123456.789", "123456.789000"},
    {std::numeric_limits<double>::quiet_NaN(), "NaN", "NaN"},
    {kNegNaN, "NaN", "NaN"},
    {INFINITY, "inf", "inf"},
    {-INFINITY, "-inf", "-inf"},
    {0.0000015, "0.0000015", "0.000002"},
};

TEST(NumberFormat, TableOfValues) {
  for (const FormatCase& c : kCases) {
    EXPECT_EQ(format_shortest(c.value), c.shortest) << c.shortest;
    EXPECT_EQ(format_fixed6(c.value), c.fixed6) << c.shortest;
  }
}

TEST(NumberFormat, ExtremesRoundTripPositionally) {
  const double values[] = {5e-324, -std::numeric_limits<double>::max(), std::numeric_limits<double>::min()};
  for (double v : values) {
    const std::string text = format_shortest(v);
    EXPECT_EQ(text.find('e'), std::string::npos) << text;
    EXPECT_EQ(std::strtod(text.c_str(), nullptr), v) << text;
  }
  const std::string tiny = format_shortest(5e-324);
  EXPECT_EQ(tiny.size(), 2 + 323 + 1u);
  EXPECT_EQ(tiny.back(), '5');
  EXPECT_EQ(format_fixed6(std::numeric_limits<double>::max()).size(), 309 + 7u);
}

}  // namespace
