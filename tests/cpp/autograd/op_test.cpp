#include "autograd/op.hpp"

#include <gtest/gtest.h>

#include <set>

#include "autograd/op_names.hpp"
#include "autograd/tensor_ops/basic_source_ops.hpp"
#include "autograd/tensor_ops/binary_ops.hpp"
#include "autograd/tensor_ops/broadcast_helper_ops.hpp"
#include "autograd/tensor_ops/const_gen_ops.hpp"
#include "autograd/tensor_ops/math_ops.hpp"
#include "autograd/tensor_ops/scalar_ops.hpp"
#include "op_test_util.hpp"

namespace {

namespace ops = gradix_autograd::tensor_ops;
namespace names = gradix_autograd::op_names;
using gradix_autograd::op::ComputeContext;
using gradix_autograd::op::Op;
using gradix_test::same_array;

TEST(OpNames, TableOfEveryOperatorType) {
  // The exact texts the gradient rule chain matches.
  const std::pair<std::string_view, std::string_view> rows[] = {
      {"AddOp", "gradix_autograd::tensor_ops::binary_ops::AddOp"},
      {"SubOp", "gradix_autograd::tensor_ops::binary_ops::SubOp"},
      {"MulOp", "gradix_autograd::tensor_ops::binary_ops::MulOp"},
      {"DivOp", "gradix_autograd::tensor_ops::binary_ops::DivOp"},
      {"MaybeReduceSum", "gradix_autograd::tensor_ops::binary_ops::MaybeReduceSum"},
      {"MaybeBroadcast", "gradix_autograd::tensor_ops::binary_ops::MaybeBroadcast"},
      {"NegOp", "gradix_autograd::tensor_ops::math_ops::NegOp"},
      {"Exp", "gradix_autograd::tensor_ops::math_ops::Exp"},
      {"Ln", "gradix_autograd::tensor_ops::math_ops::Ln"},
      {"Pow", "gradix_autograd::tensor_ops::math_ops::Pow<f64>"},
      {"Maximum", "gradix_autograd::tensor_ops::math_ops::Maximum"},
      {"Minimum", "gradix_autograd::tensor_ops::math_ops::Minimum"},
      {"Greater", "gradix_autograd::tensor_ops::math_ops::Greater"},
      {"Equal", "gradix_autograd::tensor_ops::math_ops::Equal"},
      {"Transpose", "gradix_autograd::tensor_ops::math_ops::Transpose"},
      {"Reshape", "gradix_autograd::tensor_ops::array_ops::Reshape"},
      {"Squeeze", "gradix_autograd::tensor_ops::array_ops::Squeeze"},
      {"ExpandDims", "gradix_autograd::tensor_ops::array_ops::ExpandDims"},
      {"Shape", "gradix_autograd::tensor_ops::array_ops::Shape"},
      {"AddN", "gradix_autograd::tensor_ops::array_ops::AddN"},
      {"InferBinOpShape", "gradix_autograd::tensor_ops::array_ops::InferBinOpShape"},
      {"Slice", "gradix_autograd::tensor_ops::array_ops::Slice"},
      {"SliceGrad", "gradix_autograd::tensor_ops::array_ops::SliceGrad"},
      {"Gather", "gradix_autograd::tensor_ops::array_ops::Gather"},
      {"GatherGrad", "gradix_autograd::tensor_ops::array_ops::GatherGrad"},
      {"ReduceSum", "gradix_autograd::tensor_ops::reduction_ops::ReduceSum"},
      {"ReduceSumAll", "gradix_autograd::tensor_ops::reduction_ops::ReduceSumAll"},
      {"ReduceSumToScalar", "gradix_autograd::tensor_ops::reduction_ops::ReduceSumToScalar"},
      {"ReduceSumToScalarGrad", "gradix_autograd::tensor_ops::reduction_ops::ReduceSumToScalarGrad"},
      {"ReduceMean", "gradix_autograd::tensor_ops::reduction_ops::ReduceMean"},
      {"ReduceProd", "gradix_autograd::tensor_ops::reduction_ops::ReduceProd"},
      {"ReduceGradCommon", "gradix_autograd::tensor_ops::reduction_ops::ReduceGradCommon"},
      {"ExclusiveProd", "gradix_autograd::tensor_ops::reduction_ops::ExclusiveProd"},
      {"ExclusiveProdGrad", "gradix_autograd::tensor_ops::reduction_ops::ExclusiveProdGrad"},
      {"Scalar", "gradix_autograd::tensor_ops::const_gen_ops::Scalar<f64>"},
      {"ConvertToTensor", "gradix_autograd::tensor_ops::const_gen_ops::ConvertToTensor<f64>"},
      {"Variable", "gradix_autograd::tensor_ops::basic_source_ops::Variable"},
      {"Placeholder", "gradix_autograd::tensor_ops::basic_source_ops::Placeholder"},
      {"ScalarMulOp", "gradix_autograd::tensor_ops::scalar_ops::ScalarMulOp<f64>"},
      {"MatMul", "gradix_autograd::tensor_ops::dot_ops::MatMul"},
      {"AdamOp", "gradix_autograd::tensor_ops::gradient_descent_ops::adam::AdamOp<f64>"},
      {"DiagOp", "gradix_autograd::tensor_ops::linalg_ops::DiagOp"},
      {"TraceBackwardOp", "gradix_autograd::tensor_ops::linalg_ops::TraceBackwardOp"},
      {"MatrixInverseOp", "gradix_autograd::tensor_ops::matrix_ops::MatrixInverseOp"},
      {"KroneckerGradOp", "KroneckerGradA"},
      {"KroneckerGradOp", "KroneckerGradB"},
      {"MatrixLogBackwardOp", "MatrixLogBackward"},
      {"MatrixPowBackwardOp", "MatrixPowBackward"},
      {"MatrixSqrtBackwardOp", "MatrixSqrtBackward"},
      {"SVDBackwardOp", "SVDBackward"},
      {"CholeskyBackwardOp", "gradix_autograd::tensor_ops::decomposition_ops::backward_ops::CholeskyBackwardOp"},
      {"LUExtractBackwardOp", "gradix_autograd::tensor_ops::decomposition_ops::backward_ops::LUExtractBackwardOp"},
      {"QRExtractBackwardOp", "gradix_autograd::tensor_ops::decomposition_ops::backward_ops::QRExtractBackwardOp"},
  };
  ASSERT_EQ(std::size(rows), names::kAllOpNames.size());
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    EXPECT_EQ(names::kAllOpNames[i].type, rows[i].first);
    EXPECT_EQ(names::kAllOpNames[i].name, rows[i].second);
  }
}

TEST(OpNames, OperatorsReportTheirTableName) {
  const ops::const_gen_ops::Scalar scalar(1.0);
  const ops::const_gen_ops::ConvertToTensor constant(gradix_test::scalar(1.0));
  const ops::scalar_ops::ScalarMulOp scalar_mul(2.0);
  const ops::math_ops::Pow pow(2.0);
  const std::pair<const Op*, std::string_view> rows[] = {
      {&scalar, names::kScalar},
      {&constant, names::kConvertToTensor},
      {&scalar_mul, names::kScalarMulOp},
      {&pow, names::kPow},
  };
  for (const auto& [op, name] : rows) EXPECT_EQ(op->name(), name);
  EXPECT_EQ(ops::binary_ops::AddOp{}.name(), names::kAddOp);
  EXPECT_EQ(ops::array_ops::InferBinOpShape{}.name(), names::kInferBinOpShape);
  EXPECT_NE(ops::basic_source_ops::Variable{}.name(), ops::basic_source_ops::Placeholder{}.name());
  EXPECT_TRUE(pow.name().ends_with("Pow<f64>"));
  EXPECT_FALSE(pow.name().ends_with("Pow"));
  EXPECT_TRUE(ops::binary_ops::AddOp{}.name().ends_with("AddOp"));
}

TEST(OpInterface, InputPastTheEndIsTheSharedZero) {
  const gradix_autograd::Array a = gradix_test::vec({1, 2});
  const gradix_autograd::Array b = gradix_test::vec({3});
  const gradix_autograd::Array* two[] = {&a, &b};
  const ComputeContext none({});
  const ComputeContext with_two(two);
  for (const auto* z : {&none.input(0), &with_two.input(5)}) {
    EXPECT_EQ(z->dimension(), 0u);
    EXPECT_TRUE(same_array(*z, gradix_test::scalar(0.0)));
  }
  EXPECT_EQ(&none.input(0), &gradix_autograd::op::shared_zero());
  EXPECT_EQ(&with_two.input(1), &b);
}

TEST(OpInterface, AsAnyDowncastsOnlyScalarMul) {
  const ops::scalar_ops::ScalarMulOp scalar_mul(-1.5);
  const Op& as_op = scalar_mul;
  const auto* back = gradix_autograd::op::downcast<ops::scalar_ops::ScalarMulOp>(as_op);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->factor, -1.5);
  EXPECT_EQ(ops::math_ops::Exp{}.as_any(), nullptr);
  EXPECT_EQ(ops::const_gen_ops::Scalar(2.0).as_any(), nullptr);
}

TEST(OpInterface, FieldlessOperatorsShareOneInstance) {
  using gradix_autograd::op::OpBox;
  const OpBox a = OpBox::make(ops::math_ops::Exp{});
  const OpBox b = OpBox::make(ops::math_ops::Exp{});
  EXPECT_EQ(a.get(), b.get());
  const OpBox c = OpBox::make(ops::scalar_ops::ScalarMulOp(2.0));
  const OpBox d = OpBox::make(ops::scalar_ops::ScalarMulOp(3.0));
  EXPECT_NE(c.get(), d.get());
  EXPECT_EQ(gradix_autograd::op::downcast<ops::scalar_ops::ScalarMulOp>(*d.get())->factor, 3.0);
}

}  // namespace
