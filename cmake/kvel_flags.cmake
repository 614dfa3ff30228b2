# Floating point is part of the contract: results are hashed, compared and
# printed, so every build uses plain IEEE arithmetic and the C library's math.
# No contraction into fused multiply-adds, no fast-math, no host-specific ISA.
add_compile_options(-ffp-contract=off -fno-fast-math)

# Warnings as errors on our own targets only (third-party headers are SYSTEM).
# GCC 12 reports -Wrestrict false positives inside libstdc++'s string
# concatenation at -O2 and above (GCC bug 105329), so that one is left out.
function(kvel_strict_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wno-restrict)
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
