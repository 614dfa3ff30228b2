#include "autograd/linalg_gradient_hook.hpp"

namespace gradix_autograd::gradient {

std::optional<tensor::Tensor> linear_algebra_rule_gradient(Rule, const VisitedNode&, std::size_t) {
  return std::nullopt;
}

}  // namespace gradix_autograd::gradient
