#pragma once
// Comparing the results of two evaluations: equal values element for element
// (-0.0 told from 0.0, NaN matching NaN), or failures with equal texts.

#include <gtest/gtest.h>

#include <vector>

#include "autograd/evaluation.hpp"
#include "op_test_util.hpp"

namespace gradix_test {

inline void expect_same_results(const std::vector<gradix_autograd::evaluation::EvalResult>& got,
                                const std::vector<gradix_autograd::evaluation::EvalResult>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    ASSERT_EQ(got[i].has_value(), want[i].has_value()) << i;
    if (got[i]) {
      EXPECT_TRUE(same_array(*got[i], *want[i])) << i;
    } else {
      EXPECT_EQ(got[i].error().debug(), want[i].error().debug()) << i;
    }
  }
}

}  // namespace gradix_test
