#include "driver/directory_mode.h"

#include <cstddef>
#include <deque>
#include <map>
#include <set>
#include <utility>

#include "driver/file_conversion.h"
#include "driver/path_names.h"
#include "platform/directory_listing.h"
#include "platform/file_system.h"
#include "platform/native_path.h"

namespace {

WideString JoinPath(const WideString& directory, const WideString& name) {
  WideString path = directory;
  // A root ("/", "C:\\") is the one directory whose path already ends in a separator.
  if (path.empty() || !IsPathSeparator(path.back())) path += kPathSeparator;
  path += name;
  return path;
}

}  // namespace

WideString CurrentDirectoryOrDot() {
  // Relative paths from "." still name everything below a directory whose
  // absolute name cannot be had.
  WideString directory = CurrentDirectory();
  return directory.empty() ? WideString(u".") : directory;
}

void CollectSmiFiles(const WideString& pattern, std::vector<WideString>& results) {
  // Directories are appended at the back while the front is being listed,
  // which is what makes the search breadth-first. Each is queued with the
  // identity it had when it was seen, and only when no directory with that
  // identity was queued before: a thousand links to one folder cost a
  // thousand lookups, not a thousand listings, and a cycle of links ends.
  struct Queued {
    WideString path;
    DirectoryIdentity identity;
    bool known = false;
  };
  std::deque<Queued> queue;
  queue.push_back({pattern, {}, false});
  std::set<DirectoryIdentity> searched;
  // The paths passed over because one with the same identity was queued
  // first. Should that one lead elsewhere when its turn comes (a link
  // re-pointed meanwhile), the next of these is searched in its place, so
  // that the directory is not lost.
  std::map<DirectoryIdentity, std::deque<WideString>> passedOver;
  const auto searchInstead = [&](const DirectoryIdentity& identity) {
    const auto others = passedOver.find(identity);
    if (others == passedOver.end() || others->second.empty()) return;
    queue.push_back({std::move(others->second.front()), identity, true});
    others->second.pop_front();
  };
  while (!queue.empty()) {
    const Queued directory = std::move(queue.front());
    queue.pop_front();
    DirectoryListing listing;
    // One directory that cannot be listed (no permission, removed meanwhile,
    // a path past the system's limit) says nothing about the others, so the
    // search goes on without it.
    if (!ListDirectory(directory.path, listing)) {
      if (directory.known) searchInstead(directory.identity);
      continue;
    }
    if (directory.known && listing.identity != directory.identity) {
      searchInstead(directory.identity);
    }
    // Swapped for another directory since it was queued: that one may have
    // been searched already.
    if ((!directory.known || listing.identity != directory.identity) &&
        !searched.insert(listing.identity).second) {
      continue;
    }
    for (DirectoryEntry& entry : listing.entries) {
      WideString path = JoinPath(directory.path, entry.name);
      if (entry.isDirectory) {
        if (searched.insert(entry.identity).second) {
          queue.push_back({std::move(path), entry.identity, true});
        } else {
          passedOver[entry.identity].push_back(std::move(path));
        }
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
