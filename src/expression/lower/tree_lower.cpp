#include "expression/lower/pattern.hpp"
#include "expression/tree.hpp"

namespace tamrix::tree {

lower::LoweredOp EmlTree::lower() const { return lower::pattern::lower_node(*root); }

}  // namespace tamrix::tree
