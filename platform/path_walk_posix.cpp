#include "platform/path_walk_posix.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <utility>
#include <vector>

namespace {

// Adds the components of `path` to the components still to walk, which are
// taken from the back: the first component of `path` ends up last.
void PushComponents(const std::string& path, std::vector<std::string>& pending) {
  size_t end = path.size();
  while (end > 0) {
    const size_t slash = path.rfind('/', end - 1);
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    if (end > start) pending.push_back(path.substr(start, end - start));
    if (slash == std::string::npos) break;
    end = slash;
  }
}

bool ReadLinkAt(int link, std::string& target) {
  char buffer[4096];
  // An empty name reads the link the O_PATH descriptor itself refers to, so
  // the target read is that of the link just checked, not of a replacement.
  const ssize_t n = readlinkat(link, "", buffer, sizeof buffer);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer) return false;
  target.assign(buffer, static_cast<size_t>(n));
  return true;
}

int OpenFolderPath(const char* path) {
  return open(path, O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// The folder part of `path` opened in one call, when no link lies on it: the
// walk below would then have followed nothing either and reached the same
// folder. Fills `last` with the final component. -1 when the path has no
// folder part or its last component is "." or "..", when a link lies on the
// way (the walk judges it then), or on any other failure (the walk finds out
// what it is); the system is not asked again once it lacks openat2 (or a
// sandbox refuses it).
int OpenFolderWithoutLinks(const std::string& path, std::string& last) {
  static bool unsupported = false;
  const size_t end = path.find_last_not_of('/');
  if (unsupported || end == std::string::npos) return -1;
  const size_t slash = path.rfind('/', end);
  if (slash == std::string::npos) return -1;
  last = path.substr(slash + 1, end - slash);
  if (last == "." || last == "..") return -1;
  const size_t folderEnd = path.find_last_not_of('/', slash);
  const std::string folder = folderEnd == std::string::npos ? "/" : path.substr(0, folderEnd + 1);
  struct open_how how {};
  how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_NO_SYMLINKS;
  const long descriptor = syscall(SYS_openat2, AT_FDCWD, folder.c_str(), &how, sizeof how);
  if (descriptor < 0 && (errno == ENOSYS || errno == EPERM)) unsupported = true;
  return static_cast<int>(descriptor);
}

// The folder a walk of `path` starts from, with the components left to walk
// pushed on `pending`: the folder part itself when it opens in one call, or
// else the root or the current folder. -1 when it cannot be opened.
int StartWalk(const std::string& path, std::vector<std::string>& pending) {
  std::string last;
  const int folder = OpenFolderWithoutLinks(path, last);
  if (folder >= 0) {
    pending.push_back(last);
    return folder;
  }
  PushComponents(path, pending);
  return OpenFolderPath(path[0] == '/' ? "/" : ".");
}

}  // namespace

std::string ProcFdPath(int descriptor) {
  return "/proc/self/fd/" + std::to_string(descriptor);
}

bool ProcFdAvailable() {
  static const int available = access("/proc/self/fd", X_OK) == 0 ? 1 : 0;
  return available == 1;
}

bool IsPlantedLink(int folder, const struct stat& link) {
  struct stat info;
  if (fstat(folder, &info) != 0) return true;
  const bool shared = (info.st_mode & S_ISVTX) != 0 && (info.st_mode & S_IWOTH) != 0;
  return shared && link.st_uid != geteuid() && link.st_uid != info.st_uid;
}

void CloseWalkedPath(WalkedPath& walked) {
  if (walked.entry >= 0) close(walked.entry);
  if (walked.folder >= 0) close(walked.folder);
  walked.entry = -1;
  walked.folder = -1;
}

bool WalkPath(const std::string& path, bool followLast, WalkedPath& walked) {
  walked = WalkedPath();
  if (path.empty()) return false;
  std::vector<std::string> pending;
  int folder = StartWalk(path, pending);
  if (folder < 0) return false;
  int links = 0;
  bool failed = false;
  while (!failed && !pending.empty()) {
    const std::string part = std::move(pending.back());
    pending.pop_back();
    const bool isLast = pending.empty();
    if (part == ".") continue;
    const int entry = openat(folder, part.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (entry < 0) {
      if (isLast && errno == ENOENT && part != "..") {
        walked.folder = folder;
        walked.name = part;
        return true;
      }
      failed = true;
      break;
    }
    struct stat info;
    if (fstat(entry, &info) != 0) {
      close(entry);
      failed = true;
      break;
    }
    if (S_ISLNK(info.st_mode) && (!isLast || followLast)) {
      std::string target;
      const bool follow =
          ++links <= kMaxLinksFollowed && !IsPlantedLink(folder, info) && ReadLinkAt(entry, target);
      close(entry);
      if (!follow) {
        failed = true;
        break;
      }
      if (target[0] == '/') {
        close(folder);
        folder = OpenFolderPath("/");
        if (folder < 0) return false;
      }
      PushComponents(target, pending);
      continue;
    }
    if (isLast && part != "..") {
      walked.folder = folder;
      walked.entry = entry;
      walked.name = part;
      walked.info = info;
      return true;
    }
    if (!S_ISDIR(info.st_mode)) {
      close(entry);
      failed = true;
      break;
    }
    close(folder);
    folder = entry;
  }
  if (!failed) {
    // The path ended on a folder reached by "." or "..": name it ".".
    struct stat info;
    const int entry = openat(folder, ".", O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (entry >= 0 && fstat(entry, &info) == 0) {
      walked.folder = folder;
      walked.entry = entry;
      walked.name = ".";
      walked.info = info;
      return true;
    }
    if (entry >= 0) close(entry);
  }
  close(folder);
  return false;
}
