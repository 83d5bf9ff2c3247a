// The web page's implementation of the scanner's loops: the SSE2 one
// (scan_kernels_x86.h), which emscripten compiles to WebAssembly SIMD128.
// Every engine that runs the page runs SIMD128, so nothing is asked for. (The
// SSSE3 text loop, compiled the same way, is no faster on the page.)
#include "convert/scan_kernels.h"
#include "convert/scan_kernels_x86.h"

const ScanKernels* const* VectorScanKernels() {
  static const ScanKernels* const kFound[] = {&Sse2ScanKernels(), nullptr};
  return kFound;
}
