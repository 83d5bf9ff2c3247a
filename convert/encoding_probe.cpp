#include "convert/encoding_probe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "text/locale_text.h"

SourceEncoding DetectEncoding(WideView path) {
  const std::string name = NarrowToLocale(path);
  struct stat st;
  if (stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return EncodingUnreadable;
  const int descriptor = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return EncodingUnreadable;
  // Checked again on the open file: the path may have been replaced in between.
  if (fstat(descriptor, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(descriptor);
    return EncodingUnreadable;
  }
  unsigned char first = 0;
  ssize_t n;
  do {
    n = read(descriptor, &first, 1);
  } while (n < 0 && errno == EINTR);
  close(descriptor);
  if (n < 0) return EncodingUnreadable;
  if (first == 0xEF) return EncodingUtf8;
  if (first == 0xFE || first == 0xFF) return EncodingUnicode;
  return EncodingAnsi;
}

const char* InputModeFor(SourceEncoding encoding) {
  switch (encoding) {
    case EncodingUnicode:
      return "rb, ccs=UNICODE";
    case EncodingUtf8:
      return "r, ccs=UTF-8";
    default:
      return "r";
  }
}

long SeekUnitFor(SourceEncoding encoding) {
  return encoding == EncodingUnicode ? 2 : 1;
}
