#pragma once
// The one place that includes xtensor: Debian 12 ships 0.24 (flat header
// layout), newer releases moved the headers into sub-folders.
// XTENSOR_USE_XSIMD stays undefined: results must not depend on SIMD math.

#if __has_include(<xtensor/containers/xarray.hpp>)
#include <xtensor/containers/xadapt.hpp>
#include <xtensor/containers/xarray.hpp>
#include <xtensor/containers/xtensor.hpp>
#else
#include <xtensor/xadapt.hpp>
#include <xtensor/xarray.hpp>
#include <xtensor/xtensor.hpp>
#endif
