# System libraries (Debian packages libxtensor-dev, libopenblas-serial-dev).
find_package(xtl REQUIRED)
find_package(xtensor REQUIRED)
find_package(Threads REQUIRED)

# The single-threaded OpenBLAS: the engine's matrix products are small, and
# the threaded build starts a pool of threads when it is loaded, in a process
# that is not ours. Debian installs each build in a folder of its own; the
# module is linked to the serial one and finds it there at run time.
set(KVEL_OPENBLAS_SERIAL_DIR "/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/openblas-serial")
find_path(KVEL_CBLAS_SERIAL_INCLUDE_DIR cblas.h
  HINTS "/usr/include/${CMAKE_LIBRARY_ARCHITECTURE}/openblas-serial" NO_DEFAULT_PATH REQUIRED)
find_library(KVEL_OPENBLAS_SERIAL_LIBRARY NAMES openblas HINTS "${KVEL_OPENBLAS_SERIAL_DIR}" NO_DEFAULT_PATH REQUIRED)

add_library(kvel_cblas INTERFACE)
target_include_directories(kvel_cblas SYSTEM INTERFACE "${KVEL_CBLAS_SERIAL_INCLUDE_DIR}")
target_link_libraries(kvel_cblas INTERFACE "${KVEL_OPENBLAS_SERIAL_LIBRARY}")
