#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>

#include "platform/directory_listing.h"
#include "platform/locale_text.h"
#include "platform/native_path.h"
#include "platform/path_walk_posix.h"

namespace {

// Whether `name` inside the open directory is a directory once links are
// followed, and which. Asked of the entry itself rather than taken from
// d_type, which does not follow links and is unknown on some file systems. A
// link another user planted in a shared sticky folder is not followed: the
// search would write its .srt files wherever it leads.
bool IsDirectoryAt(int directory, const char* name, DirectoryIdentity& identity) {
  struct stat st;
  if (fstatat(directory, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (S_ISLNK(st.st_mode) &&
      (IsPlantedLink(directory, st) || fstatat(directory, name, &st, 0) != 0)) {
    return false;
  }
  if (!S_ISDIR(st.st_mode)) return false;
  identity.volume = static_cast<std::uint64_t>(st.st_dev);
  identity.file = static_cast<std::uint64_t>(st.st_ino);
  return true;
}

}  // namespace

bool ListDirectory(WideView widePath, DirectoryListing& listing) {
  listing = DirectoryListing();
  const NativePath path = ToNativePath(widePath);
  // Every link on the way is judged as the entries below are: a link planted
  // since the folder was queued is not followed either.
  // The walk could go deeper than PATH_MAX, but the files found there could
  // not be opened by their paths: such a folder is not listed, as before.
  WalkedPath walked;
  if (path.size() >= PATH_MAX || !WalkPath(path, true, walked)) return false;
  // O_NONBLOCK: should the path be swapped for a FIFO after it was seen as a
  // directory, the open fails on O_DIRECTORY instead of waiting for a writer.
  const int descriptor =
      walked.entry < 0 ? -1
                       : openat(walked.entry, ".", O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
  CloseWalkedPath(walked);
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
    // A plain file, as the directory itself says, is neither a directory nor
    // a link to one: only other entries (and those whose type the file
    // system does not tell) are asked about.
    item.entry.isDirectory = entry->d_type != DT_REG &&
                             IsDirectoryAt(dirfd(directory), entry->d_name, item.entry.identity);
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
