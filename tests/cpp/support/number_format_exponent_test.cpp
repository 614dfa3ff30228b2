#include "support/number_format.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

using kvel_support::format_shortest_exponent;

TEST(NumberFormatExponent, TableOfValues) {
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {
      {0.0, "0e0"},
      {-0.0, "-0e0"},
      {-0.5, "-5e-1"},
      {250.0, "2.5e2"},
      {0.125, "1.25e-1"},
      {1.0, "1e0"},
      {1e100, "1e100"},
      {1e-300, "1e-300"},
      {0.1 + 0.2, "3.0000000000000004e-1"},
      {5e-324, "5e-324"},
      {std::numeric_limits<double>::max(), "1.7976931348623157e308"},
      {std::numeric_limits<double>::quiet_NaN(), "NaN"},
      {-std::numeric_limits<double>::quiet_NaN(), "NaN"},
      {INFINITY, "inf"},
      {-INFINITY, "-inf"},
  };
  for (const Case& c : cases) EXPECT_EQ(format_shortest_exponent(c.value), c.text) << c.text;
}

TEST(NumberFormatExponent, ReadsBackAsTheSameValue) {
  const double values[] = {-1.2345e-7, 6.02214076e23, 2.2250738585072014e-308, 3.0};
  for (double v : values) {
    const std::string text = format_shortest_exponent(v);
    EXPECT_EQ(std::strtod(text.c_str(), nullptr), v) << text;
    EXPECT_EQ(text.find('+'), std::string::npos) << text;
  }
}

}  // namespace
