// Which of the x86-64 implementations this processor runs, asked of it once.
#include "convert/scan_kernels_x86.h"

#include "convert/scan_kernels.h"

namespace {

struct Found {
  const ScanKernels* list[3] = {};
};

Found FindVectorScanKernels() {
  Found found;
  size_t count = 0;
  __builtin_cpu_init();
  if (__builtin_cpu_supports("ssse3")) found.list[count++] = &Ssse3ScanKernels();
  found.list[count] = &Sse2ScanKernels();
  return found;
}

}  // namespace

const ScanKernels* const* VectorScanKernels() {
  static const Found kFound = FindVectorScanKernels();
  return kFound.list;
}
