# Floating point is part of the contract: results are hashed, compared and
# printed, so every build uses plain IEEE arithmetic and the C library's math.
# No contraction into fused multiply-adds, no fast-math, no host-specific ISA.
add_compile_options(-ffp-contract=off -fno-fast-math)

# Every warning on our own targets (third-party headers are SYSTEM). They are
# errors only where asked (KVEL_WERROR, as CI builds): a newer compiler may
# warn about library code inlined into ours, and that must not stop a user's
# build. GCC 12 reports -Wrestrict false positives inside libstdc++'s string
# concatenation at -O2 and above (GCC bug 105329), so that one is left out.
option(KVEL_WERROR "Treat warnings on kvel's own targets as errors" OFF)
function(kvel_strict_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-restrict)
  if(KVEL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# One static library per subsystem folder; sources are every .cpp below it,
# except a `registry/` folder, which holds load-time initialisers that must be
# linked as objects (a static archive would drop them as unreferenced).
function(kvel_subsystem_library name dir)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS "${dir}/*.cpp")
  list(FILTER sources EXCLUDE REGEX "/registry/")
  if(sources)
    add_library(${name} STATIC ${sources})
    set(scope PUBLIC)
  else()
    add_library(${name} INTERFACE)
    set(scope INTERFACE)
  endif()
  target_include_directories(${name} ${scope} "${PROJECT_SOURCE_DIR}/src")
  if(sources)
    kvel_strict_warnings(${name})
  endif()
  set(KVEL_SCOPE_${name} ${scope} PARENT_SCOPE)
endfunction()
