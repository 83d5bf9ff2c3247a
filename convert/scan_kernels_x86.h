// The x86-64 implementations of the scanner's loops (scan_kernels.h), each in
// a file of its own, from which scan_kernels_x86.cpp lists those the
// processor runs. The web page's build runs the SSE2 one as WebAssembly
// SIMD128 and lists it alone (scan_kernels_wasm.cpp).
#ifndef LUMENTRACE_CONVERT_SCAN_KERNELS_X86_H_
#define LUMENTRACE_CONVERT_SCAN_KERNELS_X86_H_

#include "convert/scan_kernels.h"

// SSE2, which every x86-64 processor has.
const ScanKernels& Sse2ScanKernels();

// SSSE3 (its caption text loop; the others are SSE2's): only to be run where
// the processor has SSSE3.
const ScanKernels& Ssse3ScanKernels();

#endif  // LUMENTRACE_CONVERT_SCAN_KERNELS_X86_H_
