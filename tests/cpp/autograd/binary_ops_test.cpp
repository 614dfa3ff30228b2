#include "autograd/tensor_ops/binary_ops.hpp"

#include <gtest/gtest.h>

#include "autograd/tensor_ops/math_ops.hpp"
#include "op_test_util.hpp"

namespace {

namespace ops = gradix_autograd::tensor_ops;
using gradix_autograd::op::Op;
using gradix_autograd::Array;
using gradix_test::compute1;
using gradix_test::fatal_message;
using gradix_test::make;
using gradix_test::same_array;
using gradix_test::scalar;
using gradix_test::vec;

const ops::binary_ops::AddOp kAdd;
const ops::binary_ops::SubOp kSub;
const ops::binary_ops::MulOp kMul;
const ops::binary_ops::DivOp kDiv;

struct Row {
  const char* what;
  const Op* op;
  std::vector<Array> inputs;
  Array want;
};

TEST(ElementwiseArithmetic, SingleValuesAndCoBroadcasting) {
  const double inf = INFINITY;
  const Row rows[] = {
      {"add vector + 0-d", &kAdd, {vec({1, 2, 3}), scalar(10)}, vec({11, 12, 13})},
      {"add column + row", &kAdd, {make({2, 1}, {1, 2}), vec({10, 20, 30})}, make({2, 3}, {11, 21, 31, 12, 22, 32})},
      {"add [1] co-broadcasts", &kAdd, {vec({1, 2, 3}), vec({10})}, vec({11, 12, 13})},
      {"add one input", &kAdd, {vec({5, 6})}, make({1, 1}, {0.0})},
      {"add 0-d + 0-d", &kAdd, {scalar(1), scalar(2)}, scalar(3)},
      {"sub 0-d - vector", &kSub, {scalar(5), vec({1, 2})}, vec({4, 3})},
      {"sub vector - 0-d", &kSub, {vec({1, 2}), scalar(5)}, vec({-4, -3})},
      {"sub [1] is not single", &kSub, {vec({5}), vec({1, 2})}, vec({4, 3})},
      {"mul [1] x [4]", &kMul, {vec({2}), vec({1, 2, 3, 4})}, vec({2, 4, 6, 8})},
      {"mul 0-d x 0-d", &kMul, {scalar(2), scalar(3)}, scalar(6)},
      {"mul one input times the zero", &kMul, {vec({-1, 2})}, vec({-0.0, 0.0})},
      {"div 0-d / vector", &kDiv, {scalar(1), vec({2, 4})}, vec({0.5, 0.25})},
      {"div vector / 0-d", &kDiv, {vec({2, 4}), scalar(2)}, vec({1, 2})},
      {"div vector / [1]", &kDiv, {vec({2, 4}), vec({2})}, vec({1, 2})},
      {"div by zeros", &kDiv, {vec({1, 2}), vec({0, 0})}, vec({inf, inf})},
      {"div one input", &kDiv, {vec({2, 0})}, vec({inf, NAN})},
      // A divisor read once as a reciprocal: 5 * (1/3) is one ulp below 5/3.
      {"div by reciprocal", &kDiv, {vec({5}), scalar(3)}, vec({1.6666666666666665})},
      {"div true quotient", &kDiv, {vec({5}), vec({3, 3})}, vec({1.6666666666666667, 1.6666666666666667})},
  };
  for (const Row& row : rows) EXPECT_TRUE(same_array(compute1(*row.op, row.inputs), row.want)) << row.what;
}

// An operand of shape [0] holds no value to apply: it is co-broadcast.
TEST(ElementwiseArithmetic, EmptyOperandsAreCoBroadcast) {
  const Row rows[] = {
      {"add [0] + 0-d", &kAdd, {vec({}), scalar(1)}, vec({})},
      {"add 0-d + [0]", &kAdd, {scalar(1), vec({})}, vec({})},
      {"mul [0] x [1]", &kMul, {vec({}), vec({2})}, vec({})},
      {"div [0] / 0-d", &kDiv, {vec({}), scalar(2)}, vec({})},
      {"div 0-d / [0]", &kDiv, {scalar(2), vec({})}, vec({})},
  };
  for (const Row& row : rows) EXPECT_TRUE(same_array(compute1(*row.op, row.inputs), row.want)) << row.what;
  for (const Op* op : {static_cast<const Op*>(&kAdd), static_cast<const Op*>(&kMul), static_cast<const Op*>(&kDiv)}) {
    EXPECT_EQ(fatal_message([&] { gradix_test::run_op(*op, {vec({}), vec({1, 2, 3})}); }),
              "Cannot co-broadcast shapes [0] and [3]");
  }
}

TEST(ElementwiseArithmetic, IncompatibleShapesAreFatal) {
  EXPECT_EQ(fatal_message([] { gradix_test::run_op(kSub, {vec({1, 2}), vec({1, 2, 3})}); }),
            "Cannot co-broadcast shapes [2] and [3]");
  EXPECT_EQ(fatal_message([] { gradix_test::run_op(kAdd, {make({2, 2}, {1, 2, 3, 4}), make({3, 1}, {1, 2, 3})}); }),
            "Cannot co-broadcast shapes [2, 2] and [3, 1]");
}

TEST(ElementwiseArithmetic, UnaryOperators) {
  const double inf = INFINITY;
  const ops::math_ops::Ln ln;
  const ops::math_ops::Exp exp;
  const ops::math_ops::NegOp neg;
  const ops::math_ops::Pow sqrt_pow(0.5);
  const ops::math_ops::Pow square(2.0);
  const Row rows[] = {
      {"ln", &ln, {vec({1, 0, -1})}, vec({0, -inf, NAN})},
      {"exp", &exp, {vec({0, 710})}, vec({1, inf})},
      {"exp keeps shape", &exp, {make({2, 1}, {0, 0})}, make({2, 1}, {1, 1})},
      {"neg flips the sign bit", &neg, {vec({0.0, -2.0})}, vec({-0.0, 2.0})},
      {"neg 0-d", &neg, {scalar(1.5)}, scalar(-1.5)},
      {"pow 0.5", &sqrt_pow, {vec({4, -4})}, vec({2, NAN})},
      {"pow 2", &square, {vec({-3})}, vec({9})},
  };
  for (const Row& row : rows) EXPECT_TRUE(same_array(compute1(*row.op, row.inputs), row.want)) << row.what;
  EXPECT_TRUE(std::signbit(compute1(neg, {vec({NAN})}).data()[0]));
}

}  // namespace
