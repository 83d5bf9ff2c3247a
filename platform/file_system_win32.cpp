// Reading the input files.
#include <windows.h>

#include <string>

#include "platform/file_system.h"
#include "platform/native_path.h"

namespace {

// Only files on a disk are inputs: a device (NUL, CON, COM1), a pipe or a
// directory is refused, as the Linux side refuses anything but a regular file.
bool IsRegularFile(HANDLE file) {
  if (GetFileType(file) != FILE_TYPE_DISK) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return false;
  return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

int ReadFirstByte(WideView path) {
  // No sharing at all: a file that another program still has open (being
  // written, most likely) is refused rather than read half-way. Without
  // FILE_FLAG_BACKUP_SEMANTICS a directory does not open, so it fails here.
  HANDLE file = CreateFileW(ToNativePath(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  int result = -1;
  if (IsRegularFile(file)) {
    unsigned char byte = 0;
    DWORD read = 0;
    if (ReadFile(file, &byte, 1, &read, nullptr)) result = read == 1 ? byte : 0;
  }
  CloseHandle(file);
  return result;
}

bool ReadWholeFile(WideView path, std::string& bytes) {
  bytes.clear();
  // Other readers are fine; a writer is not, so the bytes cannot change under us.
  HANDLE file =
      CreateFileW(ToNativePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = IsRegularFile(file);
  LARGE_INTEGER size;
  if (ok && GetFileSizeEx(file, &size) && size.QuadPart > 0 &&
      static_cast<unsigned long long>(size.QuadPart) < bytes.max_size()) {
    bytes.reserve(static_cast<size_t>(size.QuadPart));
  }
  // Read to the end rather than to the size: it is only a hint.
  const DWORD chunk = 1 << 20;
  while (ok) {
    size_t used = bytes.size();
    bytes.resize(used + chunk);
    DWORD read = 0;
    if (!ReadFile(file, &bytes[used], chunk, &read, nullptr)) ok = false;
    bytes.resize(used + read);
    if (read == 0) break;
  }
  CloseHandle(file);
  if (!ok) bytes.clear();
  return ok;
}

WideString CurrentDirectory() {
  // The folder can change between the two calls (another thread), so ask
  // again while the answer does not fit.
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0) return WideString();
    if (length < buffer.size()) {
      buffer.resize(length);
      return FromNative(buffer.c_str());
    }
    buffer.assign(length, L'\0');  // `length` counts the terminating NUL here
  }
  return WideString();
}
