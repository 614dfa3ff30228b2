#pragma once
// Locks that a forked child never inherits locked.
//
// fork() copies a mutex as it is, but only the forking thread: a mutex that
// another thread held at that moment stays locked in the child for good.
// A mutex handed to hold_across_fork is taken just before every fork and
// released just after it, in the parent and in the child alike, so the child
// always finds it free.

#include <mutex>

namespace kvel_support {

// Registers `mutex` with the process's fork handlers. `in_child`, when
// given, runs in the child while the mutex is still held, to put what it
// guards right for a process whose other threads are gone. The mutex must
// live until the process ends; mutexes are taken in the order registered.
void hold_across_fork(std::mutex& mutex, void (*in_child)() = nullptr);

}  // namespace kvel_support
