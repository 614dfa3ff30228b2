#pragma once
// The operator interface. Every node owns one operator; the evaluator runs its
// `compute` on a ComputeContext, and the gradient construction recognises it by
// the text `name` returns (op_names.hpp).

#include <new>
#include <span>
#include <stdexcept>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "autograd/array.hpp"
#include "autograd/error.hpp"
#include "support/expected.hpp"

namespace gradix_autograd::op {

class GradientContext;  // grad_context.hpp

// Inputs are read-only views owned by the caller (the evaluator's values, which
// no operator can change through them); outputs are appended, output 0 first.
class ComputeContext {
 public:
  explicit ComputeContext(std::span<const Array* const> inputs) : inputs_(inputs) {}
  // Outputs go to `outputs` (cleared first), so that a caller running many
  // operators in turn reuses one list.
  ComputeContext(std::span<const Array* const> inputs, std::vector<Array>& outputs)
      : inputs_(inputs), outputs_(&outputs) {
    outputs.clear();
  }
  // As above, and output 0 may be written into `recycled` (an array of the
  // caller's that no input is), keeping its storage when the shape matches.
  ComputeContext(std::span<const Array* const> inputs, std::vector<Array>& outputs, Array& recycled)
      : ComputeContext(inputs, outputs) {
    recycled_ = &recycled;
  }
  ComputeContext(const ComputeContext&) = delete;
  ComputeContext& operator=(const ComputeContext&) = delete;

  // Input i, or the shared 0-d zero when i is past the end (never an error).
  const Array& input(std::size_t i) const;
  std::size_t num_inputs() const noexcept { return inputs_.size(); }

  void append_output(Array output) { outputs_->push_back(std::move(output)); }
  std::vector<Array>& outputs() noexcept { return *outputs_; }

  // Output 0 as an array of `shape` whose elements the operator then writes
  // (they start unspecified): the recycled array when the context has one,
  // else a new array appended to the outputs. Only as the first output; a
  // shape whose element count overflows is a fatal error.
  Array& output_array(Extents shape);
  // Whether output 0 went into the recycled array (then `outputs` is empty).
  bool wrote_recycled() const noexcept { return wrote_recycled_; }
  // Output 0 is input i unchanged, as the only output: a caller that offers
  // a recycled array takes the input's value itself, anyone else a copy.
  void pass_input(std::size_t i) {
    if (recycled_ != nullptr && outputs_->empty() && !wrote_recycled_) {
      passed_ = &input(i);
    } else {
      append_output(input(i));
    }
  }
  // The input passed on as output 0, if any (then `outputs` is empty).
  const Array* passed_input() const noexcept { return passed_; }
  // Forgets every output, the recycled or passed one included.
  void drop_outputs() noexcept {
    outputs_->clear();
    wrote_recycled_ = false;
    passed_ = nullptr;
  }

 private:
  // `array` given `shape`; a failed allocation leaves it as it was.
  static void reshape_recycled(Array& array, Extents shape);

  std::span<const Array* const> inputs_;
  std::vector<Array> own_outputs_;
  std::vector<Array>* outputs_ = &own_outputs_;
  Array* recycled_ = nullptr;
  bool wrote_recycled_ = false;
  const Array* passed_ = nullptr;
};

// The process-wide 0-d array holding 0.0; made while the library loads, never
// changed and never destroyed.
const Array& shared_zero();

using OpResult = kvel_support::Expected<kvel_support::Unit, error::OpError>;
inline OpResult ok() { return kvel_support::Unit{}; }

class Op {
 public:
  virtual ~Op() = default;
  // A text that lives as long as the program; the same on every call.
  virtual std::string_view name() const = 0;
  // Appends the outputs; a failure is returned, never thrown.
  virtual OpResult compute(ComputeContext& ctx) const = 0;
  // Sets input gradients, building nodes through the context's graph.
  virtual void grad(GradientContext& ctx) const = 0;
  // The operator itself for types that allow downcasting; nothing by default.
  virtual const Op* as_any() const { return nullptr; }
};

// The error of an operator that ran out of memory: Other "<name>: out of
// memory", marked as such (OpError::is_out_of_memory).
error::OpError out_of_memory(std::string_view op_name);

// Runs `body` (a callable returning an OpResult) and turns an allocation
// failure inside it (std::bad_alloc, or a container's std::length_error for a
// size it cannot hold) into out_of_memory(op_name).
template <class Body>
OpResult without_allocation_failure(std::string_view op_name, Body&& body) {
  try {
    return std::forward<Body>(body)();
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  // The failed allocation's memory is released by now.
  return kvel_support::unexpected(out_of_memory(op_name));
}

// op.compute(ctx) as the evaluator and the optimizers run it: an allocation
// failure inside any operator is its OpError, never an exception, and a
// failed compute leaves no outputs behind.
OpResult run_compute(const Op& op, ComputeContext& ctx);

// The default `name`: the full qualified type name, Derived::kName.
template <class Derived>
class NamedOp : public Op {
 public:
  std::string_view name() const override { return Derived::kName; }
};

// The operator as T when its `as_any` offers it and it is a T.
template <class T>
const T* downcast(const Op& op) {
  return dynamic_cast<const T*>(op.as_any());
}

// An operator without fields has no state to own: every node of that type
// shares one immutable instance, so building such a node allocates nothing.
template <class T>
inline constexpr bool kStatelessOp =
    std::is_base_of_v<Op, T> && sizeof(T) == sizeof(Op) && std::is_default_constructible_v<T>;

// The one instance of a stateless operator type. It is constant-initialised,
// so it exists before any code runs (no fit ever makes it, and a fork never
// meets it half made), and it is never destroyed: a search may still be
// running on another thread while the process exits.
template <class T>
union SharedOp {
  constexpr SharedOp() : op{} {}
  ~SharedOp() {}
  T op;
};
template <class T>
constinit inline SharedOp<T> shared_op{};

// The operator of a node: owned, shared (stateless types) or empty once taken.
class OpBox {
 public:
  OpBox() = default;
  template <class O>
  static OpBox make(O&& op) {
    using T = std::decay_t<O>;
    static_assert(std::is_base_of_v<Op, T>);
    if constexpr (kStatelessOp<T>) {
      return OpBox(&shared_op<T>.op, false);
    } else {
      return OpBox(new T(std::forward<O>(op)), true);
    }
  }
  OpBox(OpBox&& other) noexcept : op_(other.op_), owned_(other.owned_) { other.op_ = nullptr; }
  OpBox& operator=(OpBox&& other) noexcept {
    if (this != &other) {
      reset();
      op_ = other.op_;
      owned_ = other.owned_;
      other.op_ = nullptr;
    }
    return *this;
  }
  OpBox(const OpBox&) = delete;
  OpBox& operator=(const OpBox&) = delete;
  ~OpBox() { reset(); }

  const Op* get() const noexcept { return op_; }
  explicit operator bool() const noexcept { return op_ != nullptr; }

 private:
  OpBox(const Op* op, bool owned) : op_(op), owned_(owned) {}
  void reset() noexcept {
    if (owned_) delete op_;
    op_ = nullptr;
  }

  const Op* op_ = nullptr;
  bool owned_ = false;
};

}  // namespace gradix_autograd::op
