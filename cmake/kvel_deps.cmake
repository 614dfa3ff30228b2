# System libraries (Debian packages libxtensor-dev, libopenblas-dev).
find_package(xtl REQUIRED)
find_package(xtensor REQUIRED)
find_path(KVEL_CBLAS_INCLUDE_DIR cblas.h
  PATH_SUFFIXES openblas x86_64-linux-gnu aarch64-linux-gnu REQUIRED)
find_library(KVEL_OPENBLAS_LIBRARY NAMES openblas REQUIRED)

add_library(kvel_cblas INTERFACE)
target_include_directories(kvel_cblas SYSTEM INTERFACE "${KVEL_CBLAS_INCLUDE_DIR}")
target_link_libraries(kvel_cblas INTERFACE "${KVEL_OPENBLAS_LIBRARY}")
