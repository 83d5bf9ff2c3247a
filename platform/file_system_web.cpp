// The web page has no file system: files reach the converter as bytes
// (ConvertBytes), never by name, so every path fails to open.
#include "platform/file_system.h"

int ReadFirstByte(WideView) {
  return -1;
}

bool ReadWholeFile(WideView, std::string&) {
  return false;
}

WideString CurrentDirectory() {
  return WideString();
}
