#include "autograd/tensor_ops/reduction_ops.hpp"

#include <gtest/gtest.h>

#include "op_test_util.hpp"

namespace {

namespace ops = gradix_autograd::tensor_ops::reduction_ops;
using gradix_autograd::Array;
using gradix_autograd::op::Op;
using gradix_test::compute1;
using gradix_test::fatal_message;
using gradix_test::make;
using gradix_test::same_array;
using gradix_test::scalar;
using gradix_test::vec;

struct Row {
  const char* what;
  const Op* op;
  std::vector<Array> inputs;
  Array want;
};

void check(const Row& row) { EXPECT_TRUE(same_array(compute1(*row.op, row.inputs), row.want)) << row.what; }

const Array k23 = make({2, 3}, {1, 2, 3, 4, 5, 6});

TEST(Reductions, ReduceSum) {
  const ops::ReduceSum sum(false, false);
  const ops::ReduceSum keep(true, false);
  const ops::ReduceSum mask(false, true);
  const Array tenths = make({10, 1}, std::vector<double>(10, 0.1));
  const Row rows[] = {
      {"axis -1", &sum, {k23, vec({-1})}, vec({6, 15})},
      {"axis -1 kept", &keep, {k23, vec({-1})}, make({2, 1}, {6, 15})},
      {"axis 0", &sum, {k23, vec({0})}, vec({5, 7, 9})},
      {"mask [0, 1] is axis 1", &mask, {k23, vec({0, 1})}, vec({6, 15})},
      {"mask [1, 1] is both axes", &mask, {k23, vec({1, 1})}, scalar(21)},
      {"-3 on rank 2 reads as axis 0", &sum, {k23, vec({-3})}, vec({5, 7, 9})},
      {"1.7 reads as axis 1", &sum, {k23, vec({1.7})}, vec({6, 15})},
      {"[0, 0] folds axis 0 twice", &sum, {k23, vec({0, 0})}, scalar(21)},
      {"[0, 0] kept", &keep, {k23, vec({0, 0})}, make({1, 3}, {5, 7, 9})},
      {"both axes kept", &keep, {k23, make({2}, {1, 0})}, make({1, 1}, {21})},
      {"axes of any shape", &sum, {k23, make({1, 1}, {1})}, vec({6, 15})},
      {"no axes: a copy", &keep, {k23, vec({})}, k23},
      {"[1] over axis 5 is a copy", &sum, {vec({4}), vec({5})}, vec({4})},
      {"0-d is a copy", &keep, {scalar(3), vec({0})}, scalar(3)},
      {"ten tenths fold from 0.0 in order", &sum, {tenths, vec({0})}, vec({0.9999999999999999})},
      {"an empty axis sums to 0.0", &sum, {make({0, 2}, {}), vec({0})}, vec({0, 0})},
  };
  for (const Row& row : rows) check(row);
  EXPECT_NE(fatal_message([&] { compute1(sum, {k23, vec({2})}); }), "");
  EXPECT_NE(fatal_message([&] { compute1(sum, {vec({1, 2}), vec({0, 0})}); }), "");
}

TEST(Reductions, ReduceMean) {
  const ops::ReduceMean mean(false, false);
  const ops::ReduceMean keep(true, false);
  // 4097 * 4097 is not a float: the divisor rounds to 16785408.
  const Array ones(gradix_autograd::ArrayShape{4097, 1}, 1.0);
  const Row rows[] = {
      {"[1, 2, 3, 4] over 0", &mean, {vec({1, 2, 3, 4}), vec({0})}, scalar(2.5)},
      {"kept", &keep, {vec({1, 2, 3, 4}), vec({0})}, vec({2.5})},
      {"no axes: unchanged", &mean, {k23, vec({})}, k23},
      {"[1] over 0: unchanged", &mean, {vec({7}), vec({0})}, vec({7})},
      {"rows", &mean, {k23, vec({1})}, vec({2, 5})},
      // 3 * (1 / 5) is 0.6000000000000001, where 3 / 5 would be 0.6.
      {"reciprocal multiply", &mean, {vec({3, 0, 0, 0, 0}), vec({0})}, scalar(0.6000000000000001)},
      {"single-precision divisor", &mean, {ones, vec({0, 0})}, scalar(4097.0 * (1.0 / 16785408.0))},
  };
  for (const Row& row : rows) check(row);
  EXPECT_NE(fatal_message([&] { compute1(mean, {vec({4}), vec({5})}); }), "");
}

TEST(Reductions, ProductAndTotals) {
  const ops::ReduceProd prod(false, false);
  const ops::ReduceProd keep(true, false);
  const ops::ReduceSumAll all;
  const ops::ReduceSumToScalar to_scalar;
  const Row rows[] = {
      {"prod over 0", &prod, {make({2, 2}, {1, 2, 3, 4}), vec({0})}, vec({3, 8})},
      {"prod over -1 kept", &keep, {make({2, 2}, {1, 2, 3, 4}), vec({-1})}, make({2, 1}, {2, 12})},
      {"prod over an empty axis is 1", &prod, {make({0, 2}, {}), vec({0})}, vec({1, 1})},
      {"prod of [1] is a copy", &prod, {vec({5}), vec({0})}, vec({5})},
      {"sum all", &all, {k23}, scalar(21)},
      {"sum all of [0, 3]", &all, {make({0, 3}, {})}, scalar(0)},
      {"to scalar", &to_scalar, {k23}, scalar(21)},
      {"to scalar of [0, 3]", &to_scalar, {make({0, 3}, {})}, scalar(0)},
      {"to scalar of 0-d", &to_scalar, {scalar(-2)}, scalar(-2)},
  };
  for (const Row& row : rows) check(row);
}

TEST(Reductions, ReduceSumToScalarGrad) {
  const ops::ReduceSumToScalarGrad spread;
  const Row rows[] = {
      {"0-d over [2, 2]", &spread, {scalar(2.5), vec({2, 2})}, make({2, 2}, {2.5, 2.5, 2.5, 2.5})},
      {"first element of a vector", &spread, {vec({3, 9}), vec({3})}, vec({3, 3, 3})},
      {"empty target shape", &spread, {scalar(4), vec({})}, scalar(4)},
  };
  for (const Row& row : rows) check(row);
  EXPECT_EQ(fatal_message([&] { compute1(spread, {vec({}), vec({2})}); }),
            "ReduceSumToScalarGrad: the gradient [0] has no element to spread");
}

TEST(Reductions, ReduceGradCommon) {
  const ops::ReduceGradCommon reinsert(true, false);
  const ops::ReduceGradCommon direct(false, false);
  const ops::ReduceGradCommon sparse(true, true);
  const Array rows2 = make({2, 3}, {1, 2, 3, 1, 2, 3});
  const Row rows[] = {
      {"reinsert axis 0", &reinsert, {vec({1, 2, 3}), vec({2, 3}), vec({0})}, rows2},
      {"direct broadcast", &direct, {vec({1, 2, 3}), vec({2, 3}), vec({0})}, rows2},
      {"reinsert axis 1", &reinsert, {vec({1, 2}), vec({2, 3}), vec({1})}, make({2, 3}, {1, 1, 1, 2, 2, 2})},
      {"reinsert -1", &reinsert, {vec({1, 2}), vec({2, 3}), vec({-1})}, make({2, 3}, {1, 1, 1, 2, 2, 2})},
      {"sparse mask [0, 1]", &sparse, {vec({1, 2}), vec({2, 3}), vec({0, 1})}, make({2, 3}, {1, 1, 1, 2, 2, 2})},
      {"0-d gy without reinsert", &direct, {scalar(5), vec({2, 2}), vec({0, 1})}, make({2, 2}, {5, 5, 5, 5})},
      {"same shape: a copy", &direct, {k23, vec({2, 3}), vec({0})}, k23},
  };
  for (const Row& row : rows) check(row);
  EXPECT_EQ(fatal_message([&] { compute1(direct, {vec({1, 2}), vec({2, 3}), vec({1})}); }), "Operation failed");
  EXPECT_NE(fatal_message([&] { compute1(reinsert, {vec({1, 2}), vec({2, 3}), vec({3})}); }), "");
}

}  // namespace
