#include "autograd/op.hpp"

#include "autograd/shape_helpers.hpp"

namespace gradix_autograd::op {

const Array& shared_zero() {
  static const Array zero = shape_helpers::make_scalar(0.0);
  return zero;
}

const Array& ComputeContext::input(std::size_t i) const {
  return i < inputs_.size() ? *inputs_[i] : shared_zero();
}

}  // namespace gradix_autograd::op
