#pragma once
// A small value-or-error type for failures that input can cause (the library
// is C++20, so std::expected is not available). Errors are values: nothing on
// these paths throws.

#include <type_traits>
#include <utility>
#include <variant>

namespace kvel_support {

template <class E>
struct Unexpected {
  E error;
};

template <class E>
Unexpected<std::decay_t<E>> unexpected(E&& error) {
  return {std::forward<E>(error)};
}

template <class T, class E>
class Expected {
 public:
  template <class U = T, class = std::enable_if_t<std::is_constructible_v<T, U&&>>>
  Expected(U&& value) : state_(std::in_place_index<0>, std::forward<U>(value)) {}
  template <class G>
  Expected(Unexpected<G> failure) : state_(std::in_place_index<1>, std::move(failure.error)) {}

  bool has_value() const noexcept { return state_.index() == 0; }
  explicit operator bool() const noexcept { return has_value(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  E& error() & { return std::get<1>(state_); }
  const E& error() const& { return std::get<1>(state_); }
  E&& error() && { return std::get<1>(std::move(state_)); }

 private:
  std::variant<T, E> state_;
};

// Success without a value.
struct Unit {};

}  // namespace kvel_support
