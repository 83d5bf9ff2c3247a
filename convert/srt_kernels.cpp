#include "convert/srt_kernels.h"

#include "text/utf16.h"

namespace {

// Byte by byte, so that the bytes are little-endian on any machine.
char* PortableUtf16Out(const char16_t* units, size_t size, char* out) {
  for (size_t i = 0; i < size; ++i) {
    const char16_t u = units[i];
    if (u == u'\n') {
      out[0] = '\r';
      out[1] = '\0';
      out += 2;
    }
    out[0] = static_cast<char>(u & 0xFF);
    out[1] = static_cast<char>(u >> 8);
    out += 2;
  }
  return out;
}

char* PortableUtf8Out(const char16_t* units, size_t size, char* out) {
  for (size_t i = 0; i < size;) {
    const char16_t u = units[i];
    if (u < 0x80) {
      if (u == u'\n') *out++ = '\r';
      *out++ = static_cast<char>(u);
      ++i;
    } else {
      out = PutUtf8Unit(out, units, size, i);
    }
  }
  return out;
}

void PortableWidenAscii(const char* ascii, char* out) {
  for (size_t i = 0; i < kSrtAsciiBlock; ++i) {
    out[2 * i] = ascii[i];
    out[2 * i + 1] = '\0';
  }
}

constexpr SrtKernels kPortable = {"portable", PortableUtf16Out, PortableUtf8Out,
                                  PortableWidenAscii};

const SrtKernels* chosen = nullptr;

}  // namespace

const SrtKernels& PortableSrtKernels() {
  return kPortable;
}

const SrtKernels& ChosenSrtKernels() {
  if (chosen == nullptr) {
    const SrtKernels* const* vector = VectorSrtKernels();
    chosen = vector[0] != nullptr ? vector[0] : &kPortable;
  }
  return *chosen;
}
