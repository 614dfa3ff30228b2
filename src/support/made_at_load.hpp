#pragma once
// Process-wide objects made while the library loads.
//
// A process-wide object is made by an accessor holding a function-local
// static, so that any code, a load-time initialiser of another file
// included, may reach it first. Left alone, the first search to reach it
// would make it. A fork on another thread at that moment would leave the
// child with a set-up marked "in progress" that no thread of its ever
// finishes, and a fork handler registered during a fork never runs. So each
// file that owns such an object also names it here: the accessor then runs
// while the library loads (for the Python module: inside `import kvel`,
// which holds the interpreter lock, so no fork from Python can meet it),
// and no search ever makes the object for the first time.
//
//   const kvel_support::MadeAtLoad<&shared_zero> shared_zero_made_at_load;

namespace kvel_support {

template <auto Accessor>
struct MadeAtLoad {
  MadeAtLoad() { (void)Accessor(); }
};

}  // namespace kvel_support
