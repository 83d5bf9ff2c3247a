// The web page has no file system: files reach the converter as bytes
// (ConvertBytes), never by name, so every path fails to open.
#include "platform/file_system.h"

int ReadFirstByte(WideView) {
  return -1;
}

struct NativeInput {};

void NativeInputDeleter::operator()(NativeInput* native) const {
  delete native;
}

bool OpenInputFile(InputFile& file, WideView) {
  file.native.reset();
  return false;
}

int OpenInputWithFirstByte(InputFile& file, WideView) {
  file.native.reset();
  return -1;
}

ByteSource InputFileSource(InputFile&) {
  return ByteSource();
}

WideString CurrentDirectory() {
  return WideString();
}
