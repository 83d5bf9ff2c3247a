#include "convert/encoding_probe.h"

SourceEncoding EncodingOfFirstByte(int firstByte) {
  if (firstByte == 0xEF) return EncodingUtf8;
  if (firstByte == 0xFE || firstByte == 0xFF) return EncodingUnicode;
  return EncodingAnsi;
}

StreamMode InputModeFor(SourceEncoding encoding) {
  switch (encoding) {
    case EncodingUnicode:
      return StreamMode::Utf16Binary;
    case EncodingUtf8:
      return StreamMode::Utf8Text;
    default:
      return StreamMode::AnsiText;
  }
}

std::int64_t SeekUnitFor(SourceEncoding encoding) {
  return encoding == EncodingUnicode ? 2 : 1;
}
