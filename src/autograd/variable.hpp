#pragma once
// Variables: the arrays that outlive graphs (fitted values, optimizer state),
// addressed by VariableID and optionally by a name in a namespace.

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "autograd/array.hpp"
#include "autograd/borrow_flag.hpp"

namespace gradix_autograd::variable {

// An index into the environment; its display form is the decimal index
// (std::to_string).
using VariableID = std::uint64_t;

struct FullName {
  // Copies the namespace, takes over the name.
  FullName(std::string_view namespace_name, std::string variable_name)
      : namespace_name(namespace_name), variable_name(std::move(variable_name)) {}

  std::string namespace_name;
  std::string variable_name;

  friend bool operator==(const FullName&, const FullName&) = default;
};

struct FullNameHash {
  std::size_t operator()(const FullName& n) const noexcept {
    const std::size_t h = std::hash<std::string>{}(n.namespace_name);
    return h ^ (std::hash<std::string>{}(n.variable_name) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2));
  }
};

class VariableEnvironment;

// Read access to one variable's array; writing it meanwhile is fatal.
class ArrayReadGuard {
 public:
  ArrayReadGuard(const Array& array, BorrowFlag& flag) : array_(array), borrow_(flag, "variable array") {}
  const Array& operator*() const noexcept { return array_; }
  const Array* operator->() const noexcept { return &array_; }

 private:
  const Array& array_;
  ReadBorrow borrow_;
};

// Write access to one variable's array; any other access meanwhile is fatal.
class ArrayWriteGuard {
 public:
  ArrayWriteGuard(Array& array, BorrowFlag& flag) : array_(array), borrow_(flag, "variable array") {}
  Array& operator*() const noexcept { return array_; }
  Array* operator->() const noexcept { return &array_; }

 private:
  Array& array_;
  WriteBorrow borrow_;
};

// The pair {environment, namespace} through which one namespace's variables
// are added and found.
class VariableNamespace {
 public:
  VariableNamespace(VariableEnvironment& env, std::string namespace_name)
      : env_(&env), namespace_name_(std::move(namespace_name)) {}

  VariableEnvironment& env() const noexcept { return *env_; }
  const std::string& namespace_name() const noexcept { return namespace_name_; }

  class NamedVariableSlot name(std::string variable_name);

 private:
  VariableEnvironment* env_;
  std::string namespace_name_;
};

// A name in a namespace, used once to add a variable.
class NamedVariableSlot {
 public:
  NamedVariableSlot(std::string variable_name, VariableNamespace& ns)
      : variable_name_(std::move(variable_name)), ns_(ns) {}
  // Adds `array` under a new id; an earlier binding of the name is replaced.
  void set(Array array);

 private:
  std::string variable_name_;
  VariableNamespace& ns_;
};

// A name in the default namespace "", used once to add a variable.
class NamedDefaultVariableSlot {
 public:
  NamedDefaultVariableSlot(std::string variable_name, VariableEnvironment& env)
      : variable_name_(std::move(variable_name)), env_(env) {}
  // Adds the 1-D `array` (stored with dynamic rank) and returns its id.
  VariableID set(xt::xtensor<double, 1> array);

 private:
  std::string variable_name_;
  VariableEnvironment& env_;
};

class VariableEnvironment {
 public:
  VariableEnvironment() = default;
  VariableEnvironment(const VariableEnvironment&) = delete;
  VariableEnvironment& operator=(const VariableEnvironment&) = delete;

  std::size_t num_variables() const noexcept { return arrays_.size(); }

  VariableNamespace namespace_handle(std::string namespace_name) {
    return VariableNamespace(*this, std::move(namespace_name));
  }
  VariableNamespace default_namespace() { return VariableNamespace(*this, std::string()); }
  NamedDefaultVariableSlot name(std::string variable_name) {
    return NamedDefaultVariableSlot(std::move(variable_name), *this);
  }

  // The id bound to the full name, or nothing.
  std::optional<VariableID> find(const FullName& name) const;

  // Guarded access to array `id`; fatal ("variable array not found") past the end.
  ArrayReadGuard read(VariableID id) const;
  ArrayWriteGuard write(VariableID id);

  // Binds `name` to a new id and appends `array` under it.
  VariableID add(FullName name, Array array);

  // Runs `f(context)` over a new graph with room for 256 nodes, released when
  // it returns; the environment and its variables stay. Defined in graph.hpp.
  template <class F>
  decltype(auto) run(F&& f);

 private:
  struct Slot {
    Array value;
    mutable BorrowFlag borrow;
  };

  const Slot& slot(VariableID id) const;

  // A deque keeps guarded arrays in place while more are appended.
  std::deque<Slot> arrays_;
  // Only looked up, never iterated.
  std::unordered_map<FullName, VariableID, FullNameHash> names_;
};

inline NamedVariableSlot VariableNamespace::name(std::string variable_name) {
  return NamedVariableSlot(std::move(variable_name), *this);
}

}  // namespace gradix_autograd::variable

// VariableEnvironment::run needs the graph's Context.
#include "autograd/graph.hpp"
