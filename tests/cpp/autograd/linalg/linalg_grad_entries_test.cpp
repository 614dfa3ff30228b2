// The gradient operations of the linear-algebra operators that build no node:
// every input gets an empty entry.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

#include "autograd/grad_context.hpp"
#include "autograd/tensor_ops/const_gen_ops.hpp"
#include "autograd/linalg/decomposition_ops.hpp"
#include "autograd/linalg/kronecker_ops.hpp"
#include "autograd/linalg/linalg_ops.hpp"
#include "autograd/linalg/matrix_function_ops.hpp"

namespace {

namespace ops = gradix_autograd::tensor_ops;
using gradix_autograd::op::Op;
using gradix_autograd::tensor::Tensor;
using Grads = std::vector<std::optional<Tensor>>;

TEST(LinalgGradEntries, EveryInputGetsNoGradient) {
  struct Row {
    std::shared_ptr<const Op> op;
    std::size_t entries;
  };
  const Row rows[] = {
      {std::make_shared<ops::linalg_ops::TraceBackwardOp>(), 2},
      {std::make_shared<ops::kronecker_ops::KroneckerGradOp>(0), 3},
      {std::make_shared<ops::kronecker_ops::KroneckerGradOp>(1), 3},
      {std::make_shared<ops::matrix_functions::MatrixSqrtBackwardOp>(), 2},
      {std::make_shared<ops::matrix_functions::MatrixLogBackwardOp>(), 2},
      {std::make_shared<ops::matrix_functions::MatrixPowBackwardOp>(2.0), 2},
      {std::make_shared<ops::decomposition_ops::backward_ops::SVDBackwardOp>(0), 2},
      {std::make_shared<ops::decomposition_ops::backward_ops::QRExtractBackwardOp>(0), 2},
      {std::make_shared<ops::decomposition_ops::backward_ops::LUExtractBackwardOp>(1), 2},
      {std::make_shared<ops::decomposition_ops::backward_ops::CholeskyBackwardOp>(), 2},
  };
  gradix_autograd::graph::run([&rows](gradix_autograd::graph::Context& ctx) {
    const Tensor y = gradix_autograd::tensor::TensorBuilder(ctx.graph()).build(ops::const_gen_ops::Scalar(1.0));
    const Tensor list[] = {y};
    for (const Row& row : rows) {
      Grads grads;
      gradix_autograd::op::GradientContext g(list, list, ctx, list, grads, 0);
      row.op->grad(g);
      EXPECT_EQ(grads, Grads(row.entries)) << row.op->name();
    }
    EXPECT_EQ(ctx.graph().num_nodes(), 1u);
  });
}

}  // namespace
