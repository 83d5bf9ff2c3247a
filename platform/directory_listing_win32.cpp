// Listing a folder for the folder mode.
#include <windows.h>

#include <algorithm>

#include "platform/directory_listing.h"
#include "platform/native_path.h"

namespace {

// The pair (volume serial, file index) names a directory however it was
// reached: through a junction, a directory symbolic link or a different
// spelling of its path. The folder mode compares these to stop at a folder it
// has already been in. (ReFS needs the 128-bit FILE_ID_INFO for this; NTFS,
// FAT and Wine's Z: drive give a unique 64-bit index.)
bool ReadIdentity(const NativePath& path, DirectoryIdentity& identity) {
  // Access 0 asks only for attributes; BACKUP_SEMANTICS lets a directory open,
  // and without FILE_FLAG_OPEN_REPARSE_POINT links are followed to their target.
  HANDLE directory =
      CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (directory == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  bool ok = GetFileInformationByHandle(directory, &info) != 0;
  CloseHandle(directory);
  if (!ok) return false;
  identity.volume = info.dwVolumeSerialNumber;
  identity.file = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

WideString WithSeparator(WideView path) {
  WideString joined(path);
  if (!joined.empty() && joined.back() != u'\\' && joined.back() != u'/' && joined.back() != u':') {
    joined.push_back(u'\\');
  }
  return joined;
}

bool IsDotEntry(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

}  // namespace

bool ListDirectory(WideView path, DirectoryListing& listing) {
  listing = DirectoryListing();
  // Without the folder's own identity the caller could not tell a loop from a
  // new folder, so that is a failure too.
  if (!ReadIdentity(ToNativePath(path), listing.identity)) return false;
  WideString folder = WithSeparator(path);
  WIN32_FIND_DATAW found;
  // Basic info: no 8.3 names wanted, which saves the file system a lookup
  // per entry; large fetch asks for the entries in bigger batches.
  HANDLE search = FindFirstFileExW(ToNativePath(folder + u"*.*").c_str(), FindExInfoBasic, &found,
                                   FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE) {
    // Only a drive's root has no "." and "..": an empty root ends here.
    return GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  bool ok = true;
  do {
    if (IsDotEntry(found.cFileName)) continue;
    DirectoryEntry entry;
    entry.name = FromNative(found.cFileName);
    entry.isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // A directory whose identity cannot be read could not be listed either
    // (or could be one already searched): it is passed over.
    if (entry.isDirectory && !ReadIdentity(ToNativePath(folder + entry.name), entry.identity)) {
      continue;
    }
    listing.entries.push_back(std::move(entry));
  } while (FindNextFileW(search, &found));
  // Anything but the normal end means entries are missing: a partial list
  // would convert some files and silently skip others.
  if (GetLastError() != ERROR_NO_MORE_FILES) ok = false;
  FindClose(search);
  if (!ok) {
    listing = DirectoryListing();
    return false;
  }
  // Code-unit order is the same on every machine and in every locale, unlike
  // the order the file system hands out (NTFS sorts by its own upcase table).
  std::sort(listing.entries.begin(), listing.entries.end(),
            [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
  return true;
}
