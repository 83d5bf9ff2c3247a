// The output file on Windows.
//
// The bytes go to a temporary file beside the target (a short name of fixed
// length); only when every write, the flush and the close have succeeded
// does it take the target's place, through ReplaceFileW, which keeps the old
// file's attributes and security, or MoveFileExW for a new file. A failed
// conversion so leaves an earlier .srt as it was, and no temporary file.
#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/native_path.h"
#include "platform/output_file.h"

struct NativeOutput {
  HANDLE handle = INVALID_HANDLE_VALUE;
  NativePath targetPath;  // the file replaced: a link's final target
  NativePath tempPath;
};

namespace {

constexpr DWORD kWriteSize = 64 * 1024;

bool Exists(const NativePath& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Where the temporary file goes: the target's folder, with its trailing
// separator, so that the final rename stays on one volume.
NativePath FolderOf(const NativePath& path) {
  size_t slash = path.find_last_of(L"\\/");
  if (slash != NativePath::npos) return path.substr(0, slash + 1);
  if (path.size() >= 2 && path[1] == L':') return path.substr(0, 2);  // "C:name.srt"
  return NativePath();
}

// Eight hex digits that differ between processes and between calls: enough
// to make a clash rare, and CREATE_NEW catches the clashes that remain.
std::uint32_t NextTempNumber() {
  static std::uint64_t counter = 0;
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  std::uint64_t x = static_cast<std::uint64_t>(now.QuadPart) ^
                    (std::uint64_t{GetCurrentProcessId()} << 32) ^
                    (++counter * 0x9E3779B97F4A7C15ull);
  x ^= x >> 31;  // splitmix64 finaliser
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBull;
  x ^= x >> 31;
  return static_cast<std::uint32_t>(x);
}

NativePath TempName(const NativePath& folder) {
  static const wchar_t kHex[] = L"0123456789abcdef";
  std::uint32_t number = NextTempNumber();
  NativePath name = folder + L"~lt";
  for (int shift = 28; shift >= 0; shift -= 4) name.push_back(kHex[(number >> shift) & 0xF]);
  return name + L".tmp";
}

// Checks the target the way opening it for writing would, and finds the file
// that is really written: for a symbolic link, its final target, so that the
// link stays a link and the file it points to gets the new text.
bool ResolveTarget(const NativePath& path, NativePath& target) {
  target = path;
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    // Not there yet: fine. Anything else (no such folder, no access) would
    // also stop the temporary file, so it is refused here already.
    return GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  // The attribute is checked itself: an administrator (or root under Wine)
  // can open a read-only file for writing, yet it must stay as it is.
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return false;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = GetFileType(file) == FILE_TYPE_DISK;  // not CON, NUL or a pipe
  if (ok) {
    wchar_t final[MAX_PATH];
    DWORD length =
        GetFinalPathNameByHandleW(file, final, MAX_PATH, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length >= MAX_PATH) {
      NativePath longer(length, L'\0');
      length = GetFinalPathNameByHandleW(file, longer.data(), length,
                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
      if (length > 0 && length < longer.size()) target = longer.substr(0, length);
    } else if (length > 0) {
      target.assign(final, length);
    }
    // When the name cannot be had, the path as given is replaced; for a
    // plain file that is the same thing.
  }
  CloseHandle(file);
  return ok;
}

bool WriteAll(HANDLE file, const char* bytes, size_t size) {
  while (size > 0) {
    const DWORD piece = size < kWriteSize ? static_cast<DWORD>(size) : kWriteSize;
    DWORD written = 0;
    if (!WriteFile(file, bytes, piece, &written, nullptr) || written == 0) return false;
    bytes += written;
    size -= written;
  }
  return true;
}

bool CloseHandleOf(NativeOutput& out) {
  bool closed = true;
  if (out.handle != INVALID_HANDLE_VALUE) closed = CloseHandle(out.handle) != 0;
  out.handle = INVALID_HANDLE_VALUE;
  return closed;
}

void DeleteTemp(NativeOutput& out) {
  if (!out.tempPath.empty()) DeleteFileW(out.tempPath.c_str());
  out.tempPath.clear();
}

}  // namespace

void UseNamedTemporaryFiles(bool) {
  // Windows has no unnamed temporary files: they are always named.
}

void NativeOutputDeleter::operator()(NativeOutput* native) const {
  if (native == nullptr) return;
  CloseHandleOf(*native);
  DeleteTemp(*native);
  delete native;
}

bool CreateNativeOutput(OutputFile& file, WideView path) {
  auto out = std::unique_ptr<NativeOutput, NativeOutputDeleter>(new NativeOutput);
  if (!ResolveTarget(ToNativePath(path), out->targetPath)) return false;
  const NativePath folder = FolderOf(out->targetPath);
  for (int attempt = 0; attempt < 64; ++attempt) {
    const NativePath temp = TempName(folder);
    // No FILE_FLAG_DELETE_ON_CLOSE: the file has to outlive its handle to be
    // renamed over the target. No sharing while it is being written.
    const HANDLE handle = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      out->handle = handle;
      out->tempPath = temp;
      file.native = std::move(out);
      return true;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

bool WriteNativeOutput(NativeOutput& out, const char* bytes, size_t size) {
  return WriteAll(out.handle, bytes, size);
}

bool RewindNativeOutput(NativeOutput& out) {
  LARGE_INTEGER start{};
  return SetFilePointerEx(out.handle, start, nullptr, FILE_BEGIN) != 0 &&
         SetEndOfFile(out.handle) != 0;
}

bool CommitNativeOutput(NativeOutput& out) {
  bool ok = FlushFileBuffers(out.handle) != 0;
  ok = CloseHandleOf(out) && ok;
  if (!ok) {
    DeleteTemp(out);
    return false;
  }
  const NativePath& target = out.targetPath;
  const NativePath& temp = out.tempPath;
  bool replaced;
  if (Exists(target)) {
    // ReplaceFileW carries the old file's attributes, security and creation
    // time over to the new one, as writing into the file would have kept them.
    replaced = ReplaceFileW(target.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                            nullptr, nullptr) != 0;
    if (!replaced && GetLastError() == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
      // The old file has been moved aside already and the new one could not
      // follow; a plain rename is the last way to keep a file at the target.
      replaced = MoveFileExW(temp.c_str(), target.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    }
  } else {
    replaced = MoveFileExW(temp.c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  }
  if (!replaced) {
    DeleteTemp(out);
    return false;
  }
  out.tempPath.clear();
  return true;
}

void AbandonNativeOutput(NativeOutput& out) {
  CloseHandleOf(out);
  DeleteTemp(out);
}
