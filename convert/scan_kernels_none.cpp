// Machines without a vector implementation (and the web page) run the
// portable one.
#include "convert/scan_kernels.h"

const ScanKernels* const* VectorScanKernels() {
  static const ScanKernels* const kNone[] = {nullptr};
  return kNone;
}
