#include "convert/encoding_probe.h"

#include "platform/file_system.h"

SourceEncoding EncodingOfFirstByte(int firstByte) {
  if (firstByte == 0xEF) return EncodingUtf8;
  if (firstByte == 0xFE || firstByte == 0xFF) return EncodingUnicode;
  return EncodingAnsi;
}

SourceEncoding DetectEncoding(WideView path) {
  const int first = ReadFirstByte(path);
  return first < 0 ? EncodingUnreadable : EncodingOfFirstByte(first);
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
