#include "autograd/variable.hpp"

#include "support/panic.hpp"

namespace gradix_autograd::variable {

std::optional<VariableID> VariableEnvironment::find(const FullName& name) const {
  const auto it = names_.find(name);
  if (it == names_.end()) return std::nullopt;
  return it->second;
}

const VariableEnvironment::Slot& VariableEnvironment::slot(VariableID id) const {
  if (id >= arrays_.size()) kvel_support::panic("variable array not found");
  return arrays_[id];
}

ArrayReadGuard VariableEnvironment::read(VariableID id) const {
  const Slot& s = slot(id);
  return ArrayReadGuard(s.value, s.borrow);
}

ArrayWriteGuard VariableEnvironment::write(VariableID id) {
  Slot& s = const_cast<Slot&>(slot(id));
  return ArrayWriteGuard(s.value, s.borrow);
}

VariableID VariableEnvironment::add(FullName name, Array array) {
  const VariableID id = arrays_.size();
  names_.insert_or_assign(std::move(name), id);
  arrays_.push_back(Slot{std::move(array), {}});
  return id;
}

void NamedVariableSlot::set(Array array) {
  ns_.env().add(FullName(ns_.namespace_name(), std::move(variable_name_)), std::move(array));
}

VariableID NamedDefaultVariableSlot::set(xt::xtensor<double, 1> array) {
  Array stored(ArrayShape{array.shape()[0]});
  std::copy(array.data(), array.data() + array.size(), stored.data());
  return env_.add(FullName("", std::move(variable_name_)), std::move(stored));
}

}  // namespace gradix_autograd::variable
