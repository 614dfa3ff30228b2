// A preload library that counts the process-wide first-time set-ups made by
// code in one shared object (the extension, named by the environment variable
// KVEL_COUNT_FROM): function-local statics (__cxa_guard_acquire returning 1),
// pthread_once routines that run, and fork handlers registered
// (__register_atfork, which pthread_atfork calls). Counting starts at
// first_init_start(); first_init_report() writes what was counted since.
//
// Build (its own statics must not call the __cxa_guard_acquire it wraps):
//   c++ -shared -fPIC -O1 -fno-threadsafe-statics first_init_counter.cpp -o first_init_counter.so -ldl
#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<bool> counting{false};
std::atomic<int> counted{0};
constexpr int kKept = 64;
struct Seen {
  const char* what;
  std::uintptr_t offset;  // of the caller, in the counted object
};
Seen seen[kKept];

// The counted object's path ends with this name.
const char* counted_object() {
  static const char* name = [] {
    const char* path = std::getenv("KVEL_COUNT_FROM");
    if (path == nullptr) return "";
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
  }();
  return name;
}

void note(const char* what, void* caller) {
  if (!counting.load()) return;
  Dl_info info;
  if (dladdr(caller, &info) == 0 || info.dli_fname == nullptr) return;
  const char* slash = std::strrchr(info.dli_fname, '/');
  const char* file = slash != nullptr ? slash + 1 : info.dli_fname;
  if (*counted_object() == '\0' || std::strcmp(file, counted_object()) != 0) return;
  const int i = counted.fetch_add(1);
  if (i < kKept)
    seen[i] = Seen{what, reinterpret_cast<std::uintptr_t>(caller) - reinterpret_cast<std::uintptr_t>(info.dli_fbase)};
}

void* real(void* handle, const char* name) {
  void* f = dlsym(handle, name);
  if (f == nullptr) {
    std::fprintf(stderr, "first_init_counter: no %s\n", name);
    std::abort();
  }
  return f;
}

// libstdc++ sits in the extension's local scope: RTLD_NEXT does not reach it.
void* libstdcxx() {
  void* handle = dlopen("libstdc++.so.6", RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) {
    std::fprintf(stderr, "first_init_counter: libstdc++ is not loaded\n");
    std::abort();
  }
  return handle;
}

thread_local void (*once_routine)() = nullptr;
thread_local void* once_caller = nullptr;

void counted_once_routine() {
  void (*routine)() = once_routine;
  note("pthread_once", once_caller);
  routine();
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void first_init_start() {
  counted.store(0);
  counting.store(true);
}

__attribute__((visibility("default"))) int first_init_report(const char* path) {
  counting.store(false);
  const int n = counted.load();
  if (FILE* out = std::fopen(path, "w")) {
    for (int i = 0; i < n && i < kKept; ++i) std::fprintf(out, "%s 0x%lx\n", seen[i].what, (unsigned long)seen[i].offset);
    std::fclose(out);
  }
  return n;
}

__attribute__((visibility("default"))) int __cxa_guard_acquire(std::int64_t* guard) {
  using Fn = int (*)(std::int64_t*);
  static Fn next = reinterpret_cast<Fn>(real(libstdcxx(), "__cxa_guard_acquire"));
  const int first = next(guard);
  if (first != 0) note("__cxa_guard_acquire", __builtin_return_address(0));
  return first;
}

__attribute__((visibility("default"))) int pthread_once(pthread_once_t* control, void (*routine)()) {
  using Fn = int (*)(pthread_once_t*, void (*)());
  static Fn next = reinterpret_cast<Fn>(real(RTLD_NEXT, "pthread_once"));
  void (*outer_routine)() = once_routine;
  void* outer_caller = once_caller;
  once_routine = routine;
  once_caller = __builtin_return_address(0);
  const int result = next(control, counted_once_routine);
  once_routine = outer_routine;
  once_caller = outer_caller;
  return result;
}

__attribute__((visibility("default"))) int __register_atfork(void (*prepare)(), void (*parent)(), void (*child)(),
                                                              void* dso) {
  using Fn = int (*)(void (*)(), void (*)(), void (*)(), void*);
  static Fn next = reinterpret_cast<Fn>(real(RTLD_NEXT, "__register_atfork"));
  note("__register_atfork", __builtin_return_address(0));
  return next(prepare, parent, child, dso);
}

}  // extern "C"
