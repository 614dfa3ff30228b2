#pragma once
// The optimizer interface, the Adam optimizer and its update operator AdamOp,
// which computes one Adam step of one parameter.

#include <span>
#include <string_view>
#include <vector>

#include "autograd/evaluation.hpp"
#include "autograd/graph.hpp"
#include "autograd/op.hpp"
#include "autograd/op_names.hpp"

namespace gradix_autograd::tensor_ops::gradient_descent_ops::adam {

// Inputs: parameter p, gradient g, first moment m, second moment v, step count
// t. Outputs: p', g fitted to p's shape, m', v', t'.
class AdamOp final : public op::NamedOp<AdamOp> {
 public:
  static constexpr std::string_view kName = op_names::kAdamOp;
  AdamOp(double alpha, double eps, double b1, double b2) : alpha(alpha), eps(eps), b1(b1), b2(b2) {}
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;

  double alpha;
  double eps;
  double b1;
  double b2;
};

// The one double of a 0-d or one-element array.
kvel_support::Expected<double, error::OpError> extract_scalar(const Array& array);

}  // namespace gradix_autograd::tensor_ops::gradient_descent_ops::adam

namespace gradix_autograd::optimizers {

class Optimizer {
 public:
  virtual ~Optimizer() = default;
  // One step: params[i] moves along grads[i]; values are computed with the
  // feeds and written into the context's environment.
  virtual void update(std::span<const tensor::Tensor> params, std::span<const tensor::Tensor> grads,
                      graph::Context& ctx, evaluation::Feeder feeder) const = 0;
};

class Adam final : public Optimizer {
 public:
  Adam(std::string_view namespace_name, double alpha, double eps, double b1, double b2)
      : namespace_name(namespace_name), alpha(alpha), eps(eps), b1(b1), b2(b2) {}

  // Adds the state variables "{id}m", "{id}v" (zeros of the parameter's shape)
  // and "{id}t" ([1.0]) of every parameter to `namespace_name`, in that order.
  static Adam create(std::vector<variable::VariableID> params, variable::VariableEnvironment& env,
                     std::string_view namespace_name, double alpha, double eps, double b1, double b2);

  // Writes p', m', v' and t' of every parameter whose gradient evaluates; a
  // parameter whose gradient or step fails is left as it was.
  void update(std::span<const tensor::Tensor> params, std::span<const tensor::Tensor> grads, graph::Context& ctx,
              evaluation::Feeder feeder) const override;

  // A parameter and its state variables.
  struct Slots {
    variable::VariableID param;
    variable::VariableID m;
    variable::VariableID v;
    variable::VariableID t;
  };
  // The state variables of each parameter in `namespace_name`; fatal when one
  // is missing.
  std::vector<Slots> slots(std::span<const variable::VariableID> params, variable::VariableEnvironment& env) const;
  // The step of `update` from gradients already evaluated: gradients[i]
  // moves slots[i]; a failed gradient leaves its parameter as it was.
  // Returns true when a gradient or a step failed for lack of memory.
  bool apply(std::span<const Slots> slots, std::span<const evaluation::EvalResult> gradients,
             variable::VariableEnvironment& env) const;

  std::string_view namespace_name;
  double alpha;
  double eps;
  double b1;
  double b2;
};

}  // namespace gradix_autograd::optimizers
