#include "autograd/op.hpp"

#include <optional>
#include <string>
#include <utility>

#include "autograd/shape_helpers.hpp"
#include "support/made_at_load.hpp"
#include "support/panic.hpp"

namespace gradix_autograd::op {

const Array& shared_zero() {
  // Never destroyed: a search may still be running on another thread while
  // the process exits.
  static const Array* const zero = new Array(shape_helpers::make_scalar(0.0));
  return *zero;
}

namespace {
const kvel_support::MadeAtLoad<&shared_zero> shared_zero_made_at_load;
}  // namespace

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
  if (!shape_helpers::same_shape(extents_of(*recycled_), shape)) reshape_recycled(*recycled_, shape);
  wrote_recycled_ = true;
  return *recycled_;
}

void ComputeContext::reshape_recycled(Array& array, Extents shape) {
  const std::optional<std::size_t> count = shape_helpers::checked_element_count(shape);
  if (!count) kvel_support::panic(shape_helpers::too_many_elements(shape));
  // A failed allocation must leave the array as it was, so nothing that can
  // fail may follow a change of its shape (an in-place resize sets the shape
  // before it allocates). The storage of the new size is made first; the
  // shape and strides of a few dimensions live inside the array.
  if (shape.size() > ArrayShape().capacity()) {
    array = shape_helpers::make_array(shape);
    return;
  }
  if (array.size() != *count) {
    Array::storage_type storage(*count);
    array.storage().swap(storage);
  }
  array.resize(ArrayShape(shape.begin(), shape.end()));  // the storage fits: no allocation
}

}  // namespace gradix_autograd::op
