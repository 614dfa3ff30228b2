#include "support/panic.hpp"

namespace kvel_support {

void panic(std::string message) { throw FatalError(std::move(message)); }

}  // namespace kvel_support
