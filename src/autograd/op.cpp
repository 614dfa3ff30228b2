#include "autograd/op.hpp"

#include <string>
#include <utility>

#include "autograd/shape_helpers.hpp"
#include "support/panic.hpp"

namespace gradix_autograd::op {

const Array& shared_zero() {
  // Never destroyed: a search may still be running on another thread while
  // the process exits.
  static const Array* const zero = new Array(shape_helpers::make_scalar(0.0));
  return *zero;
}

error::OpError out_of_memory(std::string_view op_name) {
  std::string text(op_name);
  text += ": out of memory";
  return error::OpError::other(std::move(text)).marked_out_of_memory();
}

OpResult run_compute(const Op& op, ComputeContext& ctx) {
  OpResult result = without_allocation_failure(op.name(), [&] { return op.compute(ctx); });
  if (!result.has_value()) ctx.drop_outputs();
  return result;
}

const Array& ComputeContext::input(std::size_t i) const {
  return i < inputs_.size() ? *inputs_[i] : shared_zero();
}

Array& ComputeContext::output_array(Extents shape) {
  if (recycled_ == nullptr || wrote_recycled_ || passed_ != nullptr || !outputs_->empty()) {
    outputs_->push_back(shape_helpers::make_array(shape));
    return outputs_->back();
  }
  if (!shape_helpers::same_shape(extents_of(*recycled_), shape)) {
    // Made apart and moved in, so that a failed allocation leaves the
    // recycled array as it was (resizing in place would set the new shape
    // before its storage exists).
    *recycled_ = shape_helpers::make_array(shape);
  }
  wrote_recycled_ = true;
  return *recycled_;
}

}  // namespace gradix_autograd::op
