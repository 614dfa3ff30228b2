#include "autograd/optimizers/adam.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>

#include "autograd/grad_context.hpp"
#include "autograd/shape_helpers.hpp"
#include "support/panic.hpp"

namespace gradix_autograd::tensor_ops::gradient_descent_ops::adam {

namespace sh = shape_helpers;

namespace {

// g summed so that it has p's shape, where p is a single value or g holds a
// whole number of copies of p's shape; otherwise g as it is.
Array fit_gradient(const Array& p, const Array& g) {
  const std::size_t np = p.size();
  const std::size_t ng = g.size();
  const double* src = g.data();
  if (np == 1) {
    if (ng <= 1) return g;
    double sum = 0.0;
    for (std::size_t i = 0; i < ng; ++i) sum += src[i];
    if (p.dimension() == 0) return sh::make_scalar(sum);
    Array out(ArrayShape{1});
    out.data()[0] = sum;
    return out;
  }
  if (sh::same_shape(extents_of(g), extents_of(p)) || np == 0 || ng <= np || ng % np != 0) return g;
  Array out = sh::make_array(extents_of(p));
  double* dst = out.data();
  for (std::size_t j = 0; j < np; ++j) {
    double acc = src[j];
    for (std::size_t r = j + np; r < ng; r += np) acc += src[r];
    dst[j] = acc;
  }
  return out;
}

// A one-element state filled out to the gradient's shape, else a copy.
Array working_copy(const Array& state, const Array& g) {
  if (state.size() != 1 || g.dimension() == 0) return state;
  Array out = sh::make_array(extents_of(g));
  std::fill(out.data(), out.data() + out.size(), state.data()[0]);
  return out;
}

// The update's arithmetic on single values, shared by the one-value path and
// the element-wise one.
double next_m(double m, double g, double b1) { return m * b1 + (1.0 - b1) * g; }
double next_v(double v, double g, double b2) { return v * b2 + ((1.0 - b2) * g) * g; }
double bias_scale(double b, double t) { return 1.0 / (1.0 - std::pow(b, t)); }
double step_size(double m_hat, double v_hat, double eps) { return m_hat / (std::sqrt(v_hat) + eps); }
double next_p(double p, double u, double alpha) { return p - alpha * u; }

// f(target element, operand element) over the target's shape; the operand is
// stretched one way to it.
template <class F>
Array onto(const Array& target, const Array& operand, F f) {
  if (!sh::broadcasts_to(extents_of(operand), extents_of(target))) {
    kvel_support::panic("could not broadcast array from shape: " + sh::format_shape(extents_of(operand)) +
                        " to: " + sh::format_shape(extents_of(target)));
  }
  return sh::zip_broadcast(target, operand, extents_of(target), f);
}

}  // namespace

kvel_support::Expected<double, error::OpError> extract_scalar(const Array& array) {
  if (array.dimension() == 0 || array.size() == 1) return array.data()[0];
  return kvel_support::unexpected(error::OpError::incompatible_shape(
      "Expected scalar or 1-element array, got shape " + sh::format_shape(extents_of(array))));
}

op::OpResult AdamOp::compute(op::ComputeContext& ctx) const {
  if (ctx.num_inputs() < 5) {
    return kvel_support::unexpected(error::OpError::incompatible_shape("AdamOp requires 5 inputs, but got " +
                                                                       std::to_string(ctx.num_inputs())));
  }
  const Array& p = ctx.input(0);
  const Array& m = ctx.input(2);
  const Array& v = ctx.input(3);
  const Array& t = ctx.input(4);
  const Array& g_in = ctx.input(1);

  const auto t_value = extract_scalar(t);
  if (!t_value) return kvel_support::unexpected(t_value.error());
  const double t_next = *t_value + 1.0;
  Array t_out = t.dimension() == 0 ? sh::make_scalar(t_next) : Array(ArrayShape{1});
  t_out.data()[0] = t_next;

  const Extents shape = extents_of(p);
  if (p.size() == 1 && sh::same_shape(extents_of(g_in), shape) && sh::same_shape(extents_of(m), shape) &&
      sh::same_shape(extents_of(v), shape)) {
    // One value of one shape throughout: the arithmetic below on single
    // values, without its working arrays.
    const double gi = g_in.data()[0];
    const double m_next = next_m(m.data()[0], gi, b1);
    const double v_next = next_v(v.data()[0], gi, b2);
    const double m_hat = m_next * bias_scale(b1, t_next);
    const double v_hat = v_next * bias_scale(b2, t_next);
    const double p_next = next_p(p.data()[0], step_size(m_hat, v_hat, eps), alpha);
    for (const double value : {p_next, gi, m_next, v_next}) {
      Array out = sh::make_array(shape);
      out.data()[0] = value;
      ctx.append_output(std::move(out));
    }
    ctx.append_output(std::move(t_out));
    return op::ok();
  }

  Array g = fit_gradient(p, g_in);
  const Array m_w = working_copy(m, g);
  const Array v_w = working_copy(v, g);
  const Array p_w = working_copy(p, g);
  const double b1 = this->b1;
  const double b2 = this->b2;
  Array m_next = onto(m_w, g, [b1](double mi, double gi) { return next_m(mi, gi, b1); });
  Array v_next = onto(v_w, g, [b2](double vi, double gi) { return next_v(vi, gi, b2); });
  const double m_scale = bias_scale(b1, t_next);
  const double v_scale = bias_scale(b2, t_next);
  const Array m_hat = sh::map_elements(m_next, [m_scale](double x) { return x * m_scale; });
  const Array v_hat = sh::map_elements(v_next, [v_scale](double x) { return x * v_scale; });
  const double eps = this->eps;
  const Array u = onto(m_hat, v_hat, [eps](double mi, double vi) { return step_size(mi, vi, eps); });
  const double alpha = this->alpha;
  Array p_next = onto(p_w, u, [alpha](double pi, double ui) { return next_p(pi, ui, alpha); });

  ctx.append_output(std::move(p_next));
  ctx.append_output(std::move(g));
  ctx.append_output(std::move(m_next));
  ctx.append_output(std::move(v_next));
  ctx.append_output(std::move(t_out));
  return op::ok();
}

void AdamOp::grad(op::GradientContext& ctx) const {
  for (std::size_t i = 0; i < 5; ++i) ctx.set_input_grad(i, std::nullopt);
}

}  // namespace gradix_autograd::tensor_ops::gradient_descent_ops::adam

namespace gradix_autograd::optimizers {

using tensor_ops::gradient_descent_ops::adam::AdamOp;

namespace {

struct StateNames {
  std::string m;
  std::string v;
  std::string t;
};

StateNames state_names(variable::VariableID id) {
  const std::string k = std::to_string(id);
  return {k + "m", k + "v", k + "t"};
}

}  // namespace

Adam Adam::create(std::vector<variable::VariableID> params, variable::VariableEnvironment& env,
                  std::string_view namespace_name, double alpha, double eps, double b1, double b2) {
  variable::VariableNamespace ns = env.namespace_handle(std::string(namespace_name));
  for (const variable::VariableID id : params) {
    StateNames names = state_names(id);
    ArrayShape shape;
    {
      const variable::ArrayReadGuard param = env.read(id);
      shape = param->shape();
    }
    Array zeros_m(shape, 0.0);
    Array zeros_v(shape, 0.0);
    Array t(ArrayShape{1}, 1.0);
    ns.name(std::move(names.m)).set(std::move(zeros_m));
    ns.name(std::move(names.v)).set(std::move(zeros_v));
    ns.name(std::move(names.t)).set(std::move(t));
  }
  return Adam(namespace_name, alpha, eps, b1, b2);
}

void Adam::update(std::span<const tensor::Tensor> params, std::span<const tensor::Tensor> grads, graph::Context& ctx,
                  evaluation::Feeder feeder) const {
  if (params.size() != grads.size()) {
    kvel_support::panic("assertion `left == right` failed: " + std::to_string(params.size()) +
                        " parameters but " + std::to_string(grads.size()) + " gradients");
  }
  graph::Graph& graph = ctx.graph();
  variable::VariableEnvironment& env = ctx.env();
  const variable::VariableNamespace ns = env.namespace_handle(std::string(namespace_name));
  std::vector<Slots> steps;
  steps.reserve(params.size());
  for (std::size_t i = 0; i < params.size(); ++i) {
    std::optional<variable::VariableID> id;
    {
      const graph::NodesView nodes = graph.nodes();
      id = nodes[params[i].id()].variable_id;
    }
    if (!id) kvel_support::panic("Got non-variable tensor");
    const StateNames names = state_names(*id);
    const tensor::Tensor m = ctx.variable_by_name(names.m, ns);
    const tensor::Tensor v = ctx.variable_by_name(names.v, ns);
    const tensor::Tensor t = ctx.variable_by_name(names.t, ns);
    tensor::TensorBuilder(graph)
        .append_input(params[i], true)
        .append_input(grads[i], false)
        .append_input(m, true)
        .append_input(v, true)
        .append_input(t, true)
        .build(AdamOp(alpha, eps, b1, b2));
    const auto state_id = [&](const tensor::Tensor& node) {
      const graph::NodesView nodes = graph.nodes();
      return *nodes[node.id()].variable_id;
    };
    steps.push_back({*id, state_id(m), state_id(v), state_id(t)});
  }

  // The evaluator keeps only a node's first output, while a step must also
  // carry m', v' and t' forward. So the gradients (everything the update
  // nodes depend on besides variables) are evaluated together, and each
  // update node's operator is then applied to them and the stored state.
  evaluation::Evaluator evaluator(ctx);
  for (const tensor::Tensor& g : grads) evaluator.push(g);
  for (evaluation::Feed& feed : feeder.feeds) evaluator.feed(std::move(feed.key), *feed.value);
  const std::vector<evaluation::EvalResult> gradients = evaluator.run();

  (void)apply(steps, gradients, env);
}

std::vector<Adam::Slots> Adam::slots(std::span<const variable::VariableID> params,
                                     variable::VariableEnvironment& env) const {
  const auto state = [&](const std::string& name) {
    const std::optional<variable::VariableID> id = env.find(variable::FullName(namespace_name, name));
    if (!id) {
      kvel_support::panic("variable array `" + name + "` not found in namespace " + std::string(namespace_name));
    }
    return *id;
  };
  std::vector<Slots> out;
  out.reserve(params.size());
  for (const variable::VariableID id : params) {
    const StateNames names = state_names(id);
    out.push_back({id, state(names.m), state(names.v), state(names.t)});
  }
  return out;
}

bool Adam::apply(std::span<const Slots> slots, std::span<const evaluation::EvalResult> gradients,
                 variable::VariableEnvironment& env) const {
  // Every step is computed from the stored state before anything is written,
  // and each parameter is written once: a parameter listed twice takes one
  // step, the one of its last listing (as its last write did before).
  const AdamOp op(alpha, eps, b1, b2);
  const std::size_t count = std::min(gradients.size(), slots.size());
  std::vector<std::optional<std::vector<Array>>> results(count);
  bool out_of_memory = false;
  for (std::size_t i = 0; i < count; ++i) {
    if (!gradients[i]) {
      out_of_memory = out_of_memory || gradients[i].error().is_out_of_memory();
      continue;
    }
    const Slots& s = slots[i];
    if (s.param >= env.num_variables()) continue;
    // Read in place: nothing is written until every step is computed.
    const variable::ArrayReadGuard p = env.read(s.param);
    const variable::ArrayReadGuard m = env.read(s.m);
    const variable::ArrayReadGuard v = env.read(s.v);
    const variable::ArrayReadGuard t = env.read(s.t);
    const Array* inputs[] = {&*p, &*gradients[i], &*m, &*v, &*t};
    op::ComputeContext compute(inputs);
    const op::OpResult stepped = op::run_compute(op, compute);
    if (!stepped) {
      out_of_memory = out_of_memory || stepped.error().is_out_of_memory();
      continue;
    }
    results[i] = std::move(compute.outputs());
  }
  for (std::size_t i = 0; i < count; ++i) {
    if (!results[i]) continue;
    const Slots& s = slots[i];
    bool listed_later = false;
    for (std::size_t j = i + 1; j < count && !listed_later; ++j) listed_later = results[j] && slots[j].param == s.param;
    if (listed_later) continue;
    std::vector<Array>& out = *results[i];
    *env.write(s.param) = std::move(out[0]);
    *env.write(s.m) = std::move(out[2]);
    *env.write(s.v) = std::move(out[3]);
    *env.write(s.t) = std::move(out[4]);
  }
  return out_of_memory;
}

}  // namespace gradix_autograd::optimizers
