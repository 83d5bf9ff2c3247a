// Machines without a vector implementation (and the web page) run the
// portable one.
#include "convert/srt_kernels.h"

const SrtKernels* const* VectorSrtKernels() {
  static const SrtKernels* const kNone[] = {nullptr};
  return kNone;
}
