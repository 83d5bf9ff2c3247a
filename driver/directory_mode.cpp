#include "driver/directory_mode.h"

#include <unistd.h>

#include <climits>
#include <cstddef>
#include <deque>
#include <set>
#include <utility>

#include "convert/file_conversion.h"
#include "driver/directory_listing.h"
#include "text/locale_text.h"
#include "text/path_names.h"

namespace {

bool IsDotOrDotDot(const std::string& name) {
  return name == "." || name == "..";
}

WideString JoinPath(const WideString& directory, const WideString& name) {
  WideString path = directory;
  // The root is the one directory whose path already ends in '/'.
  if (path.empty() || path.back() != u'/') path += u'/';
  path += name;
  return path;
}

}  // namespace

WideString CurrentDirectoryOrDot() {
  // A fixed buffer on purpose: a directory deeper than PATH_MAX gets "." and
  // relative paths, which the file system can still open, where its absolute
  // name would be too long for every call that takes a path.
  char buffer[PATH_MAX];
  if (getcwd(buffer, sizeof buffer) == nullptr) return u".";
  return WidenFromLocale(buffer);
}

void CollectSmiFiles(const WideString& pattern, std::vector<WideString>& results) {
  // Directories are appended at the back while the front is being listed,
  // which is what makes the search breadth-first.
  std::deque<WideString> queue;
  queue.push_back(pattern);
  std::set<std::pair<dev_t, ino_t>> searched;
  while (!queue.empty()) {
    const WideString directory = std::move(queue.front());
    queue.pop_front();
    DirectoryListing listing;
    // One directory that cannot be listed (no permission, removed meanwhile,
    // a path past the system's limit) says nothing about the others, so the
    // search goes on without it.
    if (!ListDirectory(NarrowToLocale(directory), listing)) continue;
    // Reached once already, through a link or by a cycle of links.
    if (!searched.insert({listing.device, listing.inode}).second) continue;
    for (const DirectoryEntry& entry : listing.entries) {
      if (IsDotOrDotDot(entry.name)) continue;
      WideString path = JoinPath(directory, WidenFromLocale(entry.name));
      if (entry.isDirectory) {
        queue.push_back(std::move(path));
      } else if (HasSamiExtension(path)) {
        // Anything else named .smi, FIFOs and dangling links included, is
        // left for the conversion to find unopenable, as any unreadable file is.
        results.push_back(std::move(path));
      }
    }
  }
}

int RunDirectoryMode() {
  // The whole tree is searched before the first conversion, so files the
  // conversions write are never taken for inputs in the same run.
  std::vector<WideString> paths;
  CollectSmiFiles(CurrentDirectoryOrDot(), paths);
  for (const WideString& path : paths) {
    if (ConvertFile(path) == -1) return -1;
  }
  return 0;
}
