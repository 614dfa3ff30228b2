#include "autograd/graph.hpp"

#include <algorithm>
#include <cstdio>

#include "autograd/tensor_ops/basic_source_ops.hpp"

namespace gradix_autograd::graph {

namespace {
constexpr std::string_view kNodeStore = "graph node store";
constexpr std::string_view kVariableNodes = "graph variable-node memo";

bool is_variable_before(const std::pair<variable::VariableID, TensorId>& entry, variable::VariableID id) {
  return entry.first < id;
}
}  // namespace

NodesView::NodesView(const Graph& graph) : graph_(graph) { graph_.nodes_borrow_.acquire_read(kNodeStore); }
NodesView::~NodesView() { graph_.nodes_borrow_.release_read(); }

const TensorInternal& NodesView::operator[](TensorId id) const {
  if (id >= graph_.nodes_.size()) {
    kvel_support::panic("index out of bounds: the len is " + std::to_string(graph_.nodes_.size()) +
                        " but the index is " + std::to_string(id));
  }
  return graph_.nodes_[id];
}

std::size_t NodesView::size() const noexcept { return graph_.nodes_.size(); }

Graph::Graph(std::size_t reserved_nodes) { nodes_.reserve(reserved_nodes); }

std::size_t Graph::num_nodes() const { return nodes().size(); }

TensorId Graph::install(TensorInternal&& node) {
  const WriteBorrow borrow(nodes_borrow_, kNodeStore);
  const std::size_t n = nodes_.size();
  if (n == kWarnGraphSize) {
    std::fprintf(stderr,
                 "Too many tensors in this graph: %zu. Use Graph::clear, or move the training loop out of the "
                 "`run` block\n",
                 kWarnGraphSize);
  } else if (n > kMaxGraphSize) {
    kvel_support::panic("Maximum graph size exceeded: " + std::to_string(kMaxGraphSize) +
                        ". Use Graph::clear, or move the training loop out of the `run` block");
  }
  node.id = n;
  nodes_.push_back(std::move(node));
  return n;
}

Tensor Graph::variable_by_id(variable::VariableID id) {
  {
    const ReadBorrow borrow(variable_nodes_borrow_, kVariableNodes);
    const auto it = std::lower_bound(variable_nodes_.begin(), variable_nodes_.end(), id, is_variable_before);
    if (it != variable_nodes_.end() && it->first == id) return Tensor(*this, it->second);
  }
  const Tensor t = tensor::TensorBuilder(*this).set_variable(id).build(tensor_ops::basic_source_ops::Variable{});
  const WriteBorrow borrow(variable_nodes_borrow_, kVariableNodes);
  const auto it = std::lower_bound(variable_nodes_.begin(), variable_nodes_.end(), id, is_variable_before);
  variable_nodes_.insert(it, {id, t.id()});
  return t;
}

Tensor Graph::variable_by_name(std::string_view name, const variable::VariableNamespace& ns) {
  const std::optional<variable::VariableID> id =
      ns.env().find(variable::FullName(ns.namespace_name(), std::string(name)));
  if (!id) {
    if (ns.namespace_name().empty()) {
      kvel_support::panic("variable array not found in default namespace: " + std::string(name));
    }
    kvel_support::panic("variable array `" + std::string(name) + "` not found in namespace " +
                        ns.namespace_name());
  }
  return variable_by_id(*id);
}

op::OpBox Graph::take_op(TensorId id) {
  const WriteBorrow borrow(nodes_borrow_, kNodeStore);
  if (id >= nodes_.size()) {
    kvel_support::panic("index out of bounds: the len is " + std::to_string(nodes_.size()) + " but the index is " +
                        std::to_string(id));
  }
  return std::move(nodes_[id].op);
}

const std::string* Graph::keep_placeholder_name(std::string_view name) {
  return &placeholder_names_.emplace_front(name);
}

Tensor Context::placeholder(std::string_view name, std::span<const std::int64_t> shape) {
  {
    const NodesView nodes = graph_.nodes();
    for (std::size_t i = 0; i < nodes.size(); ++i) {
      const std::string* existing = nodes[i].placeholder_name;
      if (existing != nullptr && *existing == name) return Tensor(graph_, i);
    }
  }
  return tensor::TensorBuilder(graph_)
      .set_placeholder_name(name)
      .set_known_shape(tensor::KnownShape(shape))
      .build(tensor_ops::basic_source_ops::Placeholder{});
}

}  // namespace gradix_autograd::graph
