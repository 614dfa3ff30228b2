#include "autograd/op.hpp"

#include <string>
#include <utility>

#include "autograd/shape_helpers.hpp"

namespace gradix_autograd::op {

const Array& shared_zero() {
  static const Array zero = shape_helpers::make_scalar(0.0);
  return zero;
}

error::OpError out_of_memory(std::string_view op_name) {
  std::string text(op_name);
  text += ": out of memory";
  return error::OpError::other(std::move(text));
}

OpResult run_compute(const Op& op, ComputeContext& ctx) {
  OpResult result = without_allocation_failure(op.name(), [&] { return op.compute(ctx); });
  if (!result.has_value()) ctx.outputs().clear();
  return result;
}

const Array& ComputeContext::input(std::size_t i) const {
  return i < inputs_.size() ? *inputs_[i] : shared_zero();
}

}  // namespace gradix_autograd::op
