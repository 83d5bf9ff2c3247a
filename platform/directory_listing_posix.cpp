#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "platform/directory_listing.h"
#include "platform/locale_text.h"
#include "platform/native_path.h"

namespace {

// Whether `name` inside the open directory is a directory once links are
// followed, and which. Asked of the entry itself rather than taken from
// d_type, which does not follow links and is unknown on some file systems.
bool IsDirectoryAt(int directory, const char* name, DirectoryIdentity& identity) {
  struct stat st;
  if (fstatat(directory, name, &st, 0) != 0 || !S_ISDIR(st.st_mode)) return false;
  identity.volume = static_cast<std::uint64_t>(st.st_dev);
  identity.file = static_cast<std::uint64_t>(st.st_ino);
  return true;
}

}  // namespace

bool ListDirectory(WideView widePath, DirectoryListing& listing) {
  listing = DirectoryListing();
  const NativePath path = ToNativePath(widePath);
  // O_NONBLOCK: should the path be swapped for a FIFO after it was seen as a
  // directory, the open fails on O_DIRECTORY instead of waiting for a writer.
  const int descriptor = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return false;
  struct stat st;
  if (fstat(descriptor, &st) != 0) {
    close(descriptor);
    return false;
  }
  // The identity comes from the open directory, so it belongs to exactly the
  // directory whose entries follow.
  DIR* directory = fdopendir(descriptor);
  if (directory == nullptr) {
    close(descriptor);
    return false;
  }
  listing.identity.volume = static_cast<std::uint64_t>(st.st_dev);
  listing.identity.file = static_cast<std::uint64_t>(st.st_ino);
  struct Named {
    std::string name;
    DirectoryEntry entry;
  };
  std::vector<Named> named;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(directory);
    if (entry == nullptr) break;
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    Named item{name, {}};
    item.entry.isDirectory = IsDirectoryAt(dirfd(directory), entry->d_name, item.entry.identity);
    named.push_back(std::move(item));
  }
  const bool complete = errno == 0;
  closedir(directory);
  if (!complete) {
    listing = DirectoryListing();
    return false;
  }
  // std::string compares as unsigned bytes (char_traits<char>::lt), which is
  // the byte order wanted here for names outside ASCII too.
  std::sort(named.begin(), named.end(),
            [](const Named& a, const Named& b) { return a.name < b.name; });
  listing.entries.reserve(named.size());
  for (Named& item : named) {
    item.entry.name = WidenFromLocale(item.name);
    listing.entries.push_back(std::move(item.entry));
  }
  return true;
}
