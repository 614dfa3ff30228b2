#include "autograd/evaluation.hpp"

#include <new>
#include <optional>

#include "support/panic.hpp"

namespace gradix_autograd::evaluation {

using tensor::TensorId;

namespace {

// No order position (or no array) for a node in a repeated evaluation.
constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// The first placeholder named `name`, in id order.
std::optional<TensorId> find_placeholder(const graph::NodesView& nodes, const std::string& name) {
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    const std::string* existing = nodes[i].placeholder_name;
    if (existing != nullptr && *existing == name) return i;
  }
  return std::nullopt;
}

// Depth-first post-order over forward inputs from every target, one visited
// set for all: each node once, after all of its inputs. A fed node has its
// value already, so neither it nor what lies below it through it is listed.
// Iterative, because an input chain may be as long as the graph (500,001
// nodes) and recursion that deep would overflow the stack; the explicit stack
// visits inputs in the same order a recursive walk would.
std::vector<TensorId> evaluation_order(const graph::NodesView& nodes, const std::vector<tensor::Tensor>& targets,
                                       const std::vector<const Array*>& fed) {
  struct Frame {
    TensorId id;
    std::size_t next_input;
  };
  std::vector<bool> visited(nodes.size(), false);
  std::vector<TensorId> order;
  std::vector<Frame> stack;
  for (const tensor::Tensor& target : targets) {
    const TensorId root = target.id();
    (void)nodes[root];  // a target past the end is a fatal index error
    if (visited[root] || fed[root] != nullptr) continue;
    visited[root] = true;
    stack.push_back({root, 0});
    while (!stack.empty()) {
      Frame& top = stack.back();
      const tensor::InputList& inputs = nodes[top.id].inputs;
      if (top.next_input < inputs.size()) {
        const TensorId input = inputs[top.next_input++].id;
        if (!visited[input] && fed[input] == nullptr) {
          visited[input] = true;
          stack.push_back({input, 0});
        }
      } else {
        order.push_back(top.id);
        stack.pop_back();
      }
    }
  }
  return order;
}

// The values of a node's inputs, gathered from the memo for its operator;
// nothing when some input has no value.
class InputGather {
 public:
  std::optional<std::span<const Array* const>> gather(const tensor::TensorInternal& node,
                                                      const std::vector<const Array*>& memo) {
    const std::size_t count = node.inputs.size();
    const Array** inputs = inline_;
    if (count > tensor::InputList::kInline) {
      more_.resize(count);
      inputs = more_.data();
    }
    for (std::size_t i = 0; i < count; ++i) {
      inputs[i] = memo[node.inputs[i].id];
      if (inputs[i] == nullptr) return std::nullopt;
    }
    return std::span<const Array* const>(inputs, count);
  }

 private:
  const Array* inline_[tensor::InputList::kInline];
  std::vector<const Array*> more_;
};

// The nodes left without a value because memory ran out, in their own
// compute or in one they need. Nothing is kept until the first such failure,
// so a run without one pays nothing for it.
class OutOfMemoryMarks {
 public:
  explicit OutOfMemoryMarks(std::size_t num_nodes) noexcept : num_nodes_(num_nodes) {}
  void mark(TensorId id) {
    if (marks_.empty()) marks_.assign(num_nodes_, false);
    marks_[id] = true;
  }
  // A node without a value because an input has none takes that input's mark.
  void inherit(const tensor::TensorInternal& node, TensorId id) {
    if (marks_.empty()) return;
    for (const tensor::InputRecord& input : node.inputs) {
      if (marks_[input.id]) {
        marks_[id] = true;
        return;
      }
    }
  }
  bool marked(TensorId id) const noexcept { return !marks_.empty() && marks_[id]; }

 private:
  std::size_t num_nodes_;
  std::vector<bool> marks_;
};

// What a failed compute leaves to the node: a mark when it ran out of memory.
void note_failure(const op::OpResult& computed, TensorId id, OutOfMemoryMarks& marks) {
  if (!computed.has_value() && computed.error().is_out_of_memory()) marks.mark(id);
}

// A variable node's value, read in place: nothing writes a variable while
// the graph is evaluated, and the environment keeps its arrays where they are.
void read_variable(const tensor::TensorInternal& node, TensorId id, const variable::VariableEnvironment& env,
                   std::vector<const Array*>& memo) {
  if (*node.variable_id < env.num_variables()) memo[id] = &*env.read(*node.variable_id);
}

const op::Op& op_of(const tensor::TensorInternal& node) {
  const op::Op* op = node.op.get();
  if (op == nullptr) kvel_support::panic("bad impl: Op is now stolen in gradient");
  return *op;
}

// Computes every node of `order` whose inputs have values, after them; the
// values go to `computed` (cleared first) and the memo points at them.
void compute_in_order(const graph::NodesView& nodes, const variable::VariableEnvironment& env,
                      std::span<const TensorId> order, std::vector<const Array*>& memo, std::vector<Array>& computed,
                      OutOfMemoryMarks& marks) {
  // At most one value per node in `order`; reserved up front, so the memo's
  // pointers into it stay valid.
  computed.clear();
  computed.reserve(order.size());
  InputGather gather;
  std::vector<Array> outputs;
  for (const TensorId id : order) {
    const tensor::TensorInternal& node = nodes[id];
    if (node.variable_id) {
      read_variable(node, id, env, memo);
      continue;
    }
    if (node.placeholder_name != nullptr) continue;  // not fed: no value
    const auto inputs = gather.gather(node, memo);
    if (!inputs) {
      marks.inherit(node, id);
      continue;
    }
    op::ComputeContext ctx(*inputs, outputs);
    const op::OpResult result = op::run_compute(op_of(node), ctx);
    note_failure(result, id, marks);
    if (!result.has_value() || ctx.outputs().empty()) continue;
    memo[id] = &computed.emplace_back(std::move(ctx.outputs().front()));
  }
}

// A copy of each target's value, or the failure that names the target.
std::vector<EvalResult> collect_results(std::span<const tensor::Tensor> targets,
                                        const std::vector<const Array*>& memo, const OutOfMemoryMarks& marks) {
  std::vector<EvalResult> results;
  results.reserve(targets.size());
  for (const tensor::Tensor& target : targets) {
    const Array* value = memo[target.id()];
    if (value != nullptr) {
      results.emplace_back(*value);
    } else {
      results.emplace_back(
          kvel_support::unexpected(error::EvalError::not_computed(target.id(), marks.marked(target.id()))));
    }
  }
  return results;
}

}  // namespace

Evaluator& Evaluator::feed(PlaceholderKey key, const Array& value) {
  if (!feeder_) feeder_.emplace();
  feeder_->feeds.push_back(Feed{&value, std::move(key)});
  return *this;
}

std::vector<EvalResult> Evaluator::run() {
  graph::Graph& graph = context_->graph();
  const variable::VariableEnvironment& env = context_->env();
  const graph::NodesView nodes = graph.nodes();
  const std::size_t num_nodes = nodes.size();

  // Value of each node, by id: a fed array (a view, never copied: operators
  // only read their inputs) or an entry of `computed`.
  std::vector<const Array*> memo(num_nodes, nullptr);
  if (feeder_) {
    for (const Feed& feed : feeder_->feeds) {
      TensorId id = 0;
      if (const std::string* name = feed.key.name()) {
        const std::optional<TensorId> found = find_placeholder(nodes, *name);
        if (!found) {
          std::vector<EvalResult> only;
          only.emplace_back(kvel_support::unexpected(
              error::EvalError::variable_error("Placeholder not found: " + error::debug_text(*name))));
          return only;
        }
        id = *found;
      } else {
        id = *feed.key.id();
      }
      // A feed for an id the graph does not hold has no node to give a value.
      if (id < num_nodes) memo[id] = feed.value;
    }
  }
  if (targets_.empty()) return {};

  const std::vector<TensorId> order = evaluation_order(nodes, targets_, memo);
  std::vector<Array> computed;
  OutOfMemoryMarks marks(nodes.size());
  compute_in_order(nodes, env, order, memo, computed, marks);
  return collect_results(targets_, memo, marks);
}

EvalResult Evaluator::eval(const tensor::Tensor& target) {
  targets_.push_back(target);
  std::vector<EvalResult> results = run();
  if (results.empty()) return kvel_support::unexpected(error::EvalError::other("No tensor evaluated"));
  return std::move(results.front());
}

RepeatedEvaluation::RepeatedEvaluation(graph::Context& context, std::vector<tensor::Tensor> targets,
                                       std::span<const FeedById> feeds)
    : context_(&context), targets_(std::move(targets)), feeds_(feeds.begin(), feeds.end()) {
  const std::vector<TensorId> fixed = fixed_inputs(context.graph(), targets_);
  Evaluator once(context);
  for (const auto& [id, value] : feeds_) once.feed(PlaceholderKey::by_id(id), *value);
  for (const TensorId id : fixed) once.push(tensor::Tensor(context.graph(), id));
  std::vector<EvalResult> values = once.run();
  fixed_values_.reserve(fixed.size());
  for (std::size_t i = 0; i < fixed.size() && i < values.size(); ++i) {
    // A fixed node that fails keeps failing: it is left to every run. One
    // that ran out of memory fails this construction, as an allocation of
    // its own would.
    if (values[i]) {
      feeds_.emplace_back(fixed[i], &fixed_values_.emplace_back(std::move(*values[i])));
    } else if (values[i].error().is_out_of_memory()) {
      throw std::bad_alloc();
    }
  }

  const graph::NodesView nodes = context.graph().nodes();
  memo_.assign(nodes.size(), nullptr);
  for (const auto& [id, value] : feeds_)
    if (id < memo_.size()) memo_[id] = value;
  order_ = evaluation_order(nodes, targets_, memo_);

  const std::size_t n = order_.size();
  slots_.arrays.resize(n);
  slots_.uses.assign(n, 0);
  slots_.target.assign(n, false);
  slots_.position.assign(nodes.size(), kNone);
  slots_.last_size.assign(n, kNone);
  for (std::size_t k = 0; k < n; ++k) slots_.position[order_[k]] = k;
  for (const TensorId id : order_) {
    for (const tensor::InputRecord& input : nodes[id].inputs) {
      const std::size_t p = slots_.position[input.id];
      if (p != kNone) ++slots_.uses[p];
    }
  }
  for (const tensor::Tensor& target : targets_) {
    const std::size_t p = slots_.position[target.id()];
    if (p != kNone) slots_.target[p] = true;
  }
}

std::vector<EvalResult> RepeatedEvaluation::run() {
  const graph::NodesView nodes = context_->graph().nodes();
  if (nodes.size() != memo_.size()) kvel_support::panic("the graph grew under a repeated evaluation");
  std::fill(memo_.begin(), memo_.end(), nullptr);
  for (const auto& [id, value] : feeds_)
    if (id < memo_.size()) memo_[id] = value;
  // The read count of an array that holds a target: it is never freed.
  constexpr std::size_t kKept = static_cast<std::size_t>(-1);
  Slots& sl = slots_;
  const std::size_t n = order_.size();
  sl.holder.assign(n, kNone);
  sl.reads.assign(n, 0);
  sl.free.clear();
  std::size_t fresh = 0;
  // The array a value at order position k now lives in takes its reads.
  const auto hold = [&](std::size_t k, std::size_t a) {
    sl.holder[k] = a;
    if (sl.reads[a] == kKept) return;
    if (sl.target[k]) {
      sl.reads[a] = kKept;
    } else {
      sl.reads[a] += sl.uses[k];
    }
  };
  // A free array, preferably one of the size position k had last run.
  const auto take = [&](std::size_t k) {
    if (sl.free.empty()) return fresh++;
    std::size_t pick = sl.free.size() - 1;
    for (std::size_t i = sl.free.size(); i-- > 0;) {
      if (sl.arrays[sl.free[i]].size() == sl.last_size[k]) {
        pick = i;
        break;
      }
    }
    const std::size_t a = sl.free[pick];
    sl.free.erase(sl.free.begin() + static_cast<std::ptrdiff_t>(pick));
    return a;
  };
  const auto release = [&](std::size_t a) {
    if (sl.reads[a] == 0) sl.free.push_back(a);
  };

  const variable::VariableEnvironment& env = context_->env();
  InputGather gather;
  std::vector<Array> outputs;
  OutOfMemoryMarks marks(memo_.size());
  for (std::size_t k = 0; k < n; ++k) {
    const TensorId id = order_[k];
    const tensor::TensorInternal& node = nodes[id];
    if (node.variable_id) {
      read_variable(node, id, env, memo_);
    } else if (node.placeholder_name == nullptr) {
      if (const auto inputs = gather.gather(node, memo_)) {
        const std::size_t a = take(k);
        Array& array = sl.arrays[a];
        op::ComputeContext ctx(*inputs, outputs, array);
        bool kept = false;
        const op::OpResult computed = op::run_compute(op_of(node), ctx);
        note_failure(computed, id, marks);
        if (computed.has_value()) {
          if (const Array* passed = ctx.passed_input()) {
            memo_[id] = passed;
            for (std::size_t i = 0; i < inputs->size(); ++i) {
              const std::size_t p = sl.position[node.inputs[i].id];
              if ((*inputs)[i] == passed && p != kNone && sl.holder[p] != kNone) {
                hold(k, sl.holder[p]);
                break;
              }
            }
          } else if (ctx.wrote_recycled() || !ctx.outputs().empty()) {
            if (!ctx.wrote_recycled()) array = std::move(ctx.outputs().front());
            memo_[id] = &array;
            sl.last_size[k] = array.size();
            hold(k, a);
            kept = true;
          }
        }
        // A failed compute may have left anything in the array: it starts afresh.
        if (!computed.has_value()) array = Array();
        if (!kept) sl.free.push_back(a);
        else release(a);  // a value nobody reads
      } else {
        marks.inherit(node, id);
      }
    }
    // This node has read its inputs.
    for (const tensor::InputRecord& input : node.inputs) {
      const std::size_t p = sl.position[input.id];
      if (p == kNone || sl.holder[p] == kNone) continue;
      const std::size_t a = sl.holder[p];
      if (sl.reads[a] == kKept) continue;
      --sl.reads[a];
      release(a);
    }
  }
  return collect_results(targets_, memo_, marks);
}

std::vector<TensorId> fixed_inputs(const graph::Graph& graph, std::span<const tensor::Tensor> targets) {
  const graph::NodesView nodes = graph.nodes();
  // A node's inputs were installed before it, so one pass in id order sees
  // every input's answer before the node's own.
  std::vector<bool> varying(nodes.size(), false);
  for (TensorId id = 0; id < nodes.size(); ++id) {
    const tensor::TensorInternal& node = nodes[id];
    bool v = node.variable_id.has_value();
    for (const tensor::InputRecord& input : node.inputs) v = v || varying[input.id];
    varying[id] = v;
  }
  std::vector<bool> seen(nodes.size(), false);
  std::vector<TensorId> fixed;
  std::vector<TensorId> stack;
  const auto reach = [&](TensorId id) {
    if (seen[id]) return;
    seen[id] = true;
    if (varying[id]) {
      stack.push_back(id);
    } else {
      fixed.push_back(id);
    }
  };
  for (const tensor::Tensor& target : targets) {
    (void)nodes[target.id()];  // fatal past the end
    reach(target.id());
    while (!stack.empty()) {
      const TensorId id = stack.back();
      stack.pop_back();
      for (const tensor::InputRecord& input : nodes[id].inputs) reach(input.id);
    }
  }
  return fixed;
}

}  // namespace gradix_autograd::evaluation
