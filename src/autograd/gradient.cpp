#include "autograd/gradient.hpp"

#include <optional>
#include <string>

#include "autograd/constructors.hpp"
#include "autograd/grad_context.hpp"
#include "autograd/gradient_rules.hpp"
#include "autograd/linalg/linalg_gradient_hook.hpp"
#include "autograd/tensor_ops/array_constructors.hpp"
#include "autograd/tensor_ops/array_ops.hpp"
#include "autograd/tensor_ops/reduction_constructors.hpp"
#include "autograd/tensor_ops/reduction_ops.hpp"
#include "autograd/tensor_ops/scalar_ops.hpp"
#include "autograd/tensor_ops/slicing_ops.hpp"
#include "support/panic.hpp"

namespace gradix_autograd::gradient {

using tensor::Tensor;
using tensor::TensorBuilder;
using tensor::TensorId;
namespace ar = tensor_ops::arithmetic;

GradientEntry& GradientStore::insert(TensorId id, bool on_path) {
  Slot& slot = slots_.at(id);
  slot.present = true;
  slot.entry.gradients.clear();
  slot.entry.on_path = on_path;
  return slot.entry;
}

namespace {

[[noreturn]] void operation_failed() { kvel_support::panic("Operation failed"); }

GradientEntry& entry_of(GradientStore& store, TensorId id) {
  GradientEntry* entry = store.find(id);
  if (entry == nullptr) operation_failed();
  return *entry;
}

// The max-heap of (node id, rank) on rank alone. Written out rather than taken
// from <algorithm>, because the order in which equal ranks leave decides the
// ids of the nodes built, and that order is the one of these exact moves.
class VisitQueue {
 public:
  struct Item {
    TensorId id;
    std::uint64_t rank;
  };

  explicit VisitQueue(std::vector<Item> items) : data_(std::move(items)) {
    for (std::size_t n = data_.size() / 2; n-- > 0;) sift_down_range(n, data_.size());
  }

  bool empty() const noexcept { return data_.empty(); }

  void push(Item item) {
    data_.push_back(item);
    sift_up(0, data_.size() - 1);
  }

  Item pop() {
    Item top = data_.back();
    data_.pop_back();
    if (!data_.empty()) {
      std::swap(top, data_[0]);
      sift_down_to_bottom(0);
    }
    return top;
  }

 private:
  std::size_t sift_up(std::size_t start, std::size_t pos) {
    const Item item = data_[pos];
    while (pos > start) {
      const std::size_t parent = (pos - 1) / 2;
      if (item.rank <= data_[parent].rank) break;
      data_[pos] = data_[parent];
      pos = parent;
    }
    data_[pos] = item;
    return pos;
  }

  // Moves the hole to the larger child (the right one on ties) until the
  // entry is at least as large as that child.
  void sift_down_range(std::size_t pos, std::size_t end) {
    const Item item = data_[pos];
    std::size_t child = 2 * pos + 1;
    while (end >= 2 && child <= end - 2) {
      if (data_[child].rank <= data_[child + 1].rank) ++child;
      if (item.rank >= data_[child].rank) {
        data_[pos] = item;
        return;
      }
      data_[pos] = data_[child];
      pos = child;
      child = 2 * pos + 1;
    }
    if (child == end - 1 && item.rank < data_[child].rank) {
      data_[pos] = data_[child];
      pos = child;
    }
    data_[pos] = item;
  }

  // Sinks the hole to the bottom along the larger children, then sifts the
  // entry back up.
  void sift_down_to_bottom(std::size_t pos) {
    const std::size_t end = data_.size();
    const std::size_t start = pos;
    const Item item = data_[pos];
    std::size_t child = 2 * pos + 1;
    while (end >= 2 && child <= end - 2) {
      if (data_[child].rank <= data_[child + 1].rank) ++child;
      data_[pos] = data_[child];
      pos = child;
      child = 2 * pos + 1;
    }
    if (child == end - 1) {
      data_[pos] = data_[child];
      pos = child;
    }
    data_[pos] = item;
    sift_up(start, pos);
  }

  std::vector<Item> data_;
};

// The rule of an operator, classified once per operator type and thread. A
// type's name is one static text, so its address finds the entry quickly; the
// kept copy of the text guards against a name whose storage was reused.
Rule rule_of(std::string_view name) {
  struct Cached {
    const char* data;
    std::string text;
    Rule rule;
  };
  thread_local std::vector<Cached> cache;
  for (const Cached& c : cache) {
    if (c.data == name.data() && c.text == name) return c.rule;
  }
  const Rule rule = classify(name);
  cache.push_back({name.data(), std::string(name), rule});
  return rule;
}

void mark_paths(const graph::NodesView& nodes, std::span<const Tensor> ys, const std::vector<bool>& is_source,
                GradientStore& store) {
  struct Frame {
    TensorId id;
    bool expanded;
  };
  const auto source = [&](TensorId id) { return id < is_source.size() && is_source[id]; };
  std::vector<Frame> stack;
  stack.reserve(ys.size());
  for (const Tensor& y : ys) stack.push_back({y.id(), false});
  while (!stack.empty()) {
    const Frame top = stack.back();
    const tensor::TensorInternal& node = nodes[top.id];
    if (!top.expanded) {
      stack.back().expanded = true;
      for (const tensor::InputRecord& input : node.backprop_or_forward_inputs()) {
        if (store.find(input.id) != nullptr) continue;
        const tensor::TensorInternal& child = nodes[input.id];
        if (!child.inputs.empty() && child.differentiable) {
          stack.push_back({input.id, false});
        } else {
          store.insert(input.id, child.differentiable && source(input.id));
        }
      }
      continue;
    }
    stack.pop_back();
    bool on_path = false;
    if (node.differentiable) {
      on_path = source(top.id);
      for (const tensor::InputRecord& input : node.backprop_or_forward_inputs()) {
        if (on_path) break;
        on_path = entry_of(store, input.id).on_path;
      }
    }
    store.insert(top.id, on_path);
  }
}

const Tensor& input_at(const VisitedNode& node, std::size_t k) {
  if (k >= node.inputs.size()) {
    kvel_support::panic("index out of bounds: the len is " + std::to_string(node.inputs.size()) +
                        " but the index is " + std::to_string(k));
  }
  return node.inputs[k];
}

std::size_t element_count(const Tensor& t) {
  std::size_t n = 1;
  for (const std::size_t e : t.shape()) n *= e;
  return n;
}

// The chain's own result for input i, for the rows kept as written.
std::optional<Tensor> row_gradient(Rule rule, const VisitedNode& node, std::size_t i) {
  const Tensor& gy = node.gy;
  graph::Graph& graph = node.y.graph();
  switch (rule) {
    case Rule::kNeg:
      return ar::neg(gy);
    case Rule::kMaybeBroadcast: {
      if (i != 0) return std::nullopt;
      const Tensor target = tensor_ops::shape(input_at(node, 0));
      return tensor_ops::binary_ops::maybe_reduce(target, gy, graph);
    }
    case Rule::kReduceToScalar: {
      if (i != 0) return std::nullopt;
      const Tensor s = TensorBuilder(graph)
                           .append_input(input_at(node, 0), false)
                           .set_differentiable(false)
                           .build(tensor_ops::array_ops::Shape{});
      return TensorBuilder(graph)
          .append_input(gy, false)
          .append_input(s, false)
          .build(tensor_ops::reduction_ops::ReduceSumToScalarGrad{});
    }
    case Rule::kSigmoid: {
      const Tensor one = tensor_ops::scalar(graph, 1.0);
      const Tensor complement = ar::sub(one, node.y);
      const Tensor slope = ar::mul(node.y, complement);
      return ar::mul(slope, gy);
    }
    case Rule::kReLU: {
      const Tensor zero = tensor_ops::scalar(graph, 0.0);
      const Tensor positive = ar::greater(input_at(node, i), zero);
      return ar::mul(positive, gy);
    }
    case Rule::kTanh: {
      const Tensor one = tensor_ops::scalar(graph, 1.0);
      const Tensor square = ar::mul(node.y, node.y);
      const Tensor slope = ar::sub(one, square);
      return ar::mul(slope, gy);
    }
    case Rule::kSoftmax:
    case Rule::kCheckpoint:
    case Rule::kCustomActivation:
    case Rule::kConstantSource:
      return gy;
    case Rule::kSqueeze:
    case Rule::kExpandDims:
      // Only axes of extent 1 come or go, so reshaping gy back to the
      // input's shape undoes either, whatever the axes' signs.
    case Rule::kReshape: {
      if (i != 0) return std::nullopt;
      const Tensor target = tensor_ops::shape(input_at(node, 0));
      return tensor_ops::reshape(gy, target);
    }
    case Rule::kConcat: {
      std::size_t offset = 0;
      for (std::size_t k = 0; k < i; ++k) offset += element_count(input_at(node, k));
      const Tensor& x = input_at(node, i);
      const std::size_t n = element_count(x);
      const Tensor flat = tensor_ops::flatten(gy);
      const Tensor part = tensor_ops::slice(flat, static_cast<std::int64_t>(offset),
                                            static_cast<std::int64_t>(offset + n));
      const Tensor target = tensor_ops::shape(x);
      return tensor_ops::reshape(part, target);
    }
    case Rule::kSlice: {
      // Only reached when the operator is a Slice (see visit).
      const auto* slice = op::downcast<tensor_ops::array_ops::Slice>(node.op);
      return TensorBuilder(graph)
          .append_input(input_at(node, i), false)
          .append_input(gy, false)
          .build(tensor_ops::array_ops::SliceGrad(slice->slice_elements));
    }
    case Rule::kConditional:
      if (i == 0) return std::nullopt;
      return gy;
    case Rule::kEml:
      return std::nullopt;
    case Rule::kScalarMul: {
      const auto* scalar_mul = op::downcast<tensor_ops::scalar_ops::ScalarMulOp>(node.op);
      if (scalar_mul == nullptr) return gy;
      return tensor_ops::linear_algebra::scalar_mul(gy, scalar_mul->factor);
    }
    default:
      kvel_support::panic("gradient rule without a row of its own");
  }
}

// The input gradients of one visited node, in input order, into `results`.
void input_gradients(const VisitedNode& node, std::vector<std::optional<Tensor>>& results) {
  const Rule rule = rule_of(node.op.name());
  const bool own = uses_own_grad(rule) ||
                   (rule == Rule::kSlice && op::downcast<tensor_ops::array_ops::Slice>(node.op) == nullptr);
  results.clear();
  if (own) {
    const Tensor outputs[] = {node.y};
    const Tensor output_grads[] = {node.gy};
    op::GradientContext ctx(outputs, node.inputs, node.y.graph(), output_grads, results, 0);
    node.op.grad(ctx);
    results.resize(node.inputs.size());
    return;
  }
  for (std::size_t i = 0; i < node.inputs.size(); ++i) {
    results.push_back(builds_linear_algebra(rule) ? linear_algebra_rule_gradient(rule, node, i)
                                                  : row_gradient(rule, node, i));
  }
}

}  // namespace

GradientStore compute_gradients(std::span<const Tensor> ys, std::span<const Tensor> xs, graph::Graph& graph) {
  GradientStore store(graph.num_nodes());
  if (ys.empty()) return store;
  {
    const graph::NodesView nodes = graph.nodes();
    std::vector<bool> is_source(nodes.size(), false);
    for (const Tensor& x : xs) {
      if (x.id() < is_source.size()) is_source[x.id()] = true;
    }
    mark_paths(nodes, ys, is_source, store);
  }

  const Tensor seed = tensor_ops::scalar(graph, 1.0);
  std::vector<VisitQueue::Item> initial;
  initial.reserve(ys.size());
  {
    const graph::NodesView nodes = graph.nodes();
    for (const Tensor& y : ys) {
      entry_of(store, y.id()).gradients.push_back(seed);
      initial.push_back({y.id(), nodes[y.id()].topo_rank});
    }
  }
  VisitQueue queue(std::move(initial));

  // Reused from node to node.
  std::vector<Tensor> inputs;
  std::vector<std::optional<Tensor>> results;
  while (!queue.empty()) {
    const TensorId id = queue.pop().id;
    GradientEntry& entry = entry_of(store, id);
    if (entry.gradients.size() > 1) {
      // The list keeps only the sum, so a later read of it sees each
      // contribution once.
      const Tensor sum = tensor_ops::reduction::add_n_of_one_shape(entry.gradients);
      entry.gradients.assign(1, sum);
    }
    const Tensor gy = entry.gradients.at(0);

    const op::Op* op = nullptr;
    inputs.clear();
    {
      const graph::NodesView nodes = graph.nodes();
      const tensor::TensorInternal& node = nodes[id];
      op = node.op.get();
      for (const tensor::InputRecord& input : node.backprop_or_forward_inputs()) inputs.emplace_back(graph, input.id);
    }
    if (op == nullptr) kvel_support::panic("bad impl: Op is now stolen in gradient");
    // The rules may build nodes, which moves the node records but not the
    // operator objects they own.
    const VisitedNode visited{*op, Tensor(graph, id), gy, inputs};
    input_gradients(visited, results);

    const graph::NodesView nodes = graph.nodes();
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      GradientEntry& target = entry_of(store, inputs[i].id());
      if (!results[i] || !target.on_path) continue;
      const bool first = target.gradients.empty();
      target.gradients.push_back(*results[i]);
      const tensor::TensorInternal& input_node = nodes[inputs[i].id()];
      if (first && !input_node.inputs.empty()) queue.push({inputs[i].id(), input_node.topo_rank});
    }
  }
  return store;
}

}  // namespace gradix_autograd::gradient

namespace gradix_autograd::tensor_ops {

std::vector<tensor::Tensor> grad(std::span<const tensor::Tensor> ys, std::span<const tensor::Tensor> xs) {
  if (ys.empty()) kvel_support::panic("index out of bounds: the len is 0 but the index is 0");
  graph::Graph& graph = ys[0].graph();
  std::vector<tensor::Tensor> targets;
  targets.reserve(ys.size());
  for (const tensor::Tensor& y : ys) {
    targets.push_back(tensor::TensorBuilder(y.graph()).append_input(y, false).build(reduction_ops::ReduceSumAll{}));
  }
  gradient::GradientStore store = gradient::compute_gradients(targets, xs, graph);

  std::vector<tensor::Tensor> result;
  result.reserve(xs.size());
  for (const tensor::Tensor& x : xs) {
    const gradient::GradientEntry* entry = store.find(x.id());
    if (entry != nullptr && entry->on_path) {
      if (entry->gradients.empty()) {
        const std::vector<std::size_t> sizes = x.shape();
        std::size_t n = 1;
        for (const std::size_t e : sizes) n *= e;
        const std::vector<double> zeros(n, 0.0);
        result.push_back(tensor::from_vec(zeros, sizes, x.graph()));
      } else {
        result.push_back(reduction::add_n_of_one_shape(entry->gradients));
      }
      continue;
    }
    const tensor::Tensor zero = scalar(graph, 0.0);
    result.push_back(arithmetic::mul(x, zero));
  }
  return result;
}

}  // namespace gradix_autograd::tensor_ops
