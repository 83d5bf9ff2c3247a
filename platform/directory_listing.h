// Listing one directory, for the directory search. Each platform lists in its
// own way; the search only sees names, flags and identities.
#ifndef LUMENTRACE_PLATFORM_DIRECTORY_LISTING_H_
#define LUMENTRACE_PLATFORM_DIRECTORY_LISTING_H_

#include <cstdint>
#include <vector>

#include "text/wide_string.h"

// Which directory a path leads to, however it is reached: links followed, so
// two paths naming the same directory give the same identity (device and
// inode on POSIX systems, volume serial number and file index on Windows).
struct DirectoryIdentity {
  std::uint64_t volume = 0;
  std::uint64_t file = 0;
  bool operator<(const DirectoryIdentity& other) const {
    return volume != other.volume ? volume < other.volume : file < other.file;
  }
  bool operator!=(const DirectoryIdentity& other) const {
    return volume != other.volume || file != other.file;
  }
};

struct DirectoryEntry {
  WideString name;  // "." and ".." are left out
  // A directory, or a link (a junction on Windows) that ends at one. A
  // dangling link, a link to a file and anything whose type cannot be told
  // are not directories.
  bool isDirectory = false;
  DirectoryIdentity identity;  // for a directory: the one it leads to
};

struct DirectoryListing {
  DirectoryIdentity identity;  // the directory listed
  // In a fixed order, so that a listing does not depend on the order the file
  // system happens to keep: by the bytes of the names on POSIX systems, by
  // their UTF-16 code units on Windows.
  std::vector<DirectoryEntry> entries;
};

// Lists the directory at `path` (links followed). Returns false, with
// `listing` emptied, when the directory cannot be opened or reading it fails
// part way: a listing is whole or not at all.
bool ListDirectory(WideView path, DirectoryListing& listing);

#endif  // LUMENTRACE_PLATFORM_DIRECTORY_LISTING_H_
