#pragma once
// The gradient rules whose results build linear-algebra operators (matrix
// product, diagonal, trace, inverse, determinant, solve, matrix functions,
// Kronecker product, decompositions). Their nodes are built whether or not
// the input lies on a differentiable path.

#include <optional>
#include <span>

#include "autograd/gradient_rules.hpp"
#include "autograd/tensor.hpp"

namespace gradix_autograd::gradient {

// What a rule sees of the visited node.
struct VisitedNode {
  const op::Op& op;
  tensor::Tensor y;                       // the node itself
  tensor::Tensor gy;                      // its summed gradient
  std::span<const tensor::Tensor> inputs;  // backprop inputs, else forward inputs
};

// The gradient for input `i` under a rule for which builds_linear_algebra holds.
std::optional<tensor::Tensor> linear_algebra_rule_gradient(Rule rule, const VisitedNode& node, std::size_t i);

}  // namespace gradix_autograd::gradient
