// Reading the input files.
#include <windows.h>

#include <algorithm>
#include <cstdint>
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

struct NativeInput {
  HANDLE file = INVALID_HANDLE_VALUE;
  unsigned long long size = 0;  // when opened
};

void NativeInputDeleter::operator()(NativeInput* native) const {
  if (native->file != INVALID_HANDLE_VALUE) CloseHandle(native->file);
  delete native;
}

bool OpenInputFile(InputFile& file, WideView path) {
  file.native.reset();
  // The input stays open while the output is made, and the output's trial
  // open for writing must still succeed when the .srt is another name of this
  // same file: write sharing is allowed. A file changed while it is read ends
  // where a read first finds nothing, as on other systems.
  HANDLE handle = CreateFileW(ToNativePath(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  if (!IsRegularFile(handle) || !GetFileSizeEx(handle, &size) || size.QuadPart < 0) {
    CloseHandle(handle);
    return false;
  }
  file.native.reset(new NativeInput{handle, static_cast<unsigned long long>(size.QuadPart)});
  return true;
}

int OpenInputWithFirstByte(InputFile& file, WideView path) {
  // Two opens: the first, without sharing, refuses a file another program is
  // still writing; the input itself must share writing (see above).
  file.native.reset();
  const int first = ReadFirstByte(path);
  if (first < 0) return -1;
  return OpenInputFile(file, path) ? first : -2;
}

ByteSource InputFileSource(InputFile& file) {
  ByteSource source;
  source.context = file.native.get();
  source.read = [](void* context, size_t offset, unsigned char* buffer,
                   size_t size) -> std::int64_t {
    const NativeInput& input = *static_cast<NativeInput*>(context);
    if (offset >= input.size) return 0;
    const unsigned long long left = input.size - offset;
    DWORD want = static_cast<DWORD>(std::min<unsigned long long>({size, left, 1ull << 30}));
    // The offset goes in the OVERLAPPED; the handle is not opened for
    // overlapped reading, so the read completes before ReadFile returns.
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(static_cast<unsigned long long>(offset) >> 32);
    DWORD read = 0;
    if (!ReadFile(input.file, buffer, want, &read, &at))
      return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return read;
  };
  return source;
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
