// Listing one directory, for the directory search. The POSIX side of it lives
// here so that the search itself only sees names and flags.
#ifndef LUMENTRACE_DRIVER_DIRECTORY_LISTING_H_
#define LUMENTRACE_DRIVER_DIRECTORY_LISTING_H_

#include <sys/types.h>

#include <string>
#include <vector>

// Which directory a path leads to, however it is reached: links followed, so
// two paths naming the same directory give the same identity.
struct DirectoryIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator<(const DirectoryIdentity& other) const {
    return device != other.device ? device < other.device : inode < other.inode;
  }
  bool operator!=(const DirectoryIdentity& other) const {
    return device != other.device || inode != other.inode;
  }
};

struct DirectoryEntry {
  std::string name;  // as the file system holds it; "." and ".." included
  // A directory, or a symbolic link that ends at one. A dangling link, a link
  // to a file and anything whose type cannot be told are not directories.
  bool isDirectory = false;
  DirectoryIdentity identity;  // for a directory: the one it leads to
};

struct DirectoryListing {
  DirectoryIdentity identity;  // the directory listed
  // Sorted by the bytes of their names, so that a listing does not depend on
  // the order the file system happens to keep.
  std::vector<DirectoryEntry> entries;
};

// Lists the directory at `path` (narrow, as the file system names it; links
// followed). Returns false, with `listing` emptied, when the directory cannot
// be opened or reading it fails part way: a listing is whole or not at all.
bool ListDirectory(const std::string& path, DirectoryListing& listing);

#endif  // LUMENTRACE_DRIVER_DIRECTORY_LISTING_H_
