// Following a path the way the kernel does, one component at a time, so that
// every link met on the way can be judged before it is followed. Used for the
// output file and for the folders of the directory search (POSIX only).
#ifndef LUMENTRACE_PLATFORM_PATH_WALK_POSIX_H_
#define LUMENTRACE_PLATFORM_PATH_WALK_POSIX_H_

#include <sys/stat.h>

#include <string>

// Where a walk ended: the folder that holds the last component and, when the
// last component exists, an O_PATH|O_NOFOLLOW descriptor of that very entry.
struct WalkedPath {
  int folder = -1;  // O_PATH descriptor
  int entry = -1;   // O_PATH|O_NOFOLLOW descriptor; -1 when nothing has that name
  std::string name;
  struct stat info {};  // of `entry`
};

// The links a walk follows at most, as the kernel's limit (ELOOP).
constexpr int kMaxLinksFollowed = 40;

// Walks `path` from the working folder (or from the root for an absolute
// path). Each link met, in the middle of the path and, when `followLast`, at
// its end, is followed only when it is not planted (IsPlantedLink). Returns
// false, with nothing open, when a folder on the way does not exist or is not
// a folder, a link is refused, more than kMaxLinksFollowed links are met or
// the system fails; a missing last component is not a failure. The last
// component is never "." or "..": they are walked and the name left is ".".
bool WalkPath(const std::string& path, bool followLast, WalkedPath& walked);

// Closes what a walk left open.
void CloseWalkedPath(WalkedPath& walked);

// The rule the kernel applies when fs.protected_symlinks is on, applied
// whether it is on or not: in a sticky folder anyone may write (such as
// /tmp), a link is followed only when it belongs to the user or to the
// folder's owner; anyone else may have planted it to make us write through
// it. `folder` is a descriptor of the folder holding the link.
bool IsPlantedLink(int folder, const struct stat& link);

// "/proc/self/fd/N": opening it reopens exactly the file descriptor N refers to.
std::string ProcFdPath(int descriptor);
bool ProcFdAvailable();

#endif  // LUMENTRACE_PLATFORM_PATH_WALK_POSIX_H_
