// The output file on POSIX systems.
//
// Every name is opened relative to an open descriptor of its folder, so the
// length of the path before it does not matter and a folder renamed or
// swapped meanwhile cannot redirect a later step. The temporary file is
// unnamed (O_TMPFILE) where the file system allows, so that not even SIGKILL
// can leave it behind; it gets a short name only for the instant between
// linking it into the folder and renaming it over the target. Elsewhere it is
// named from the start, and SIGINT, SIGTERM and SIGHUP remove it before the
// program ends.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/native_path.h"
#include "platform/output_file.h"

#ifndef O_PATH
#define O_PATH O_RDONLY  // only to name a folder; read access is then needed too
#endif

struct NativeOutput {
  int descriptor = -1;  // what is written to: the temporary file, or the target in place
  int folder = -1;      // the folder the target lives in
  std::string targetName;
  std::string tempName;  // the temporary file's name in `folder`; empty while unnamed
  bool unnamed = false;
  bool inPlace = false;
  bool existed = false;
  struct stat original {};  // the target as it was opened
};

namespace {

constexpr mode_t kNewFileMode = 0666;  // less the umask, as for any new file
constexpr mode_t kTempMode = 0600;     // nobody else reads the output while it is written
constexpr size_t kTempNameLength = 20;

// ---- Removing a named temporary file when a signal ends the program ----

// One conversion at a time, so one pending name at most. The handler only
// reads these, and they are set with the signals blocked.
int gPendingFolder = -1;
char gPendingName[kTempNameLength + 1];
volatile std::sig_atomic_t gPending = 0;

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void RemovePendingAndReraise(int signal) {
  if (gPending) unlinkat(gPendingFolder, gPendingName, 0);
  gPending = 0;
  std::signal(signal, SIG_DFL);
  raise(signal);
}

void InstallCleanupHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (int signal : kCleanupSignals) {
    struct sigaction current {};
    // A signal the user chose to ignore (nohup) stays ignored.
    if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = RemovePendingAndReraise;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
  }
}

class BlockedCleanupSignals {
 public:
  BlockedCleanupSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kCleanupSignals) sigaddset(&set, signal);
    sigprocmask(SIG_BLOCK, &set, &saved_);
  }
  ~BlockedCleanupSignals() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
  BlockedCleanupSignals(const BlockedCleanupSignals&) = delete;
  BlockedCleanupSignals& operator=(const BlockedCleanupSignals&) = delete;

 private:
  sigset_t saved_;
};

void SetPending(int folder, const std::string& name) {
  InstallCleanupHandlers();
  BlockedCleanupSignals blocked;
  gPendingFolder = folder;
  std::memcpy(gPendingName, name.c_str(), name.size() + 1);
  gPending = 1;
}

void ClearPending() {
  BlockedCleanupSignals blocked;
  gPending = 0;
}

// ---- Names and folders ----

std::string TempNameCandidate() {
  static unsigned long counter = 0;
  unsigned long mix = static_cast<unsigned long>(getpid()) * 2654435761u ^
                      static_cast<unsigned long>(std::time(nullptr)) ^ (++counter * 40503u);
  mix ^= static_cast<unsigned long>(clock());
  char name[kTempNameLength + 1];
  std::snprintf(name, sizeof name, ".lumentrace-%08lx", mix & 0xFFFFFFFFul);
  return name;
}

// Splits "dir/name" into an open descriptor of "dir" and "name".
bool OpenFolderOf(const std::string& path, int& folder, std::string& name) {
  const size_t slash = path.rfind('/');
  std::string folderPath;
  if (slash == std::string::npos) {
    folderPath = ".";
    name = path;
  } else {
    folderPath = slash == 0 ? "/" : path.substr(0, slash);
    name = path.substr(slash + 1);
  }
  if (name.empty() || name == "." || name == "..") return false;
  folder = open(folderPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  return folder >= 0;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The rule the kernel applies when fs.protected_symlinks is on, applied here
// whether it is on or not: in a sticky folder that anyone may write (such as
// /tmp), a link is only followed when it belongs to the user or to the
// folder's owner. Anyone else may have planted it to make us overwrite a file
// of ours.
bool IsPlantedLink(int folder, const struct stat& link) {
  struct stat info;
  if (fstat(folder, &info) != 0) return true;
  const bool shared = (info.st_mode & S_ISVTX) != 0 && (info.st_mode & S_IWOTH) != 0;
  return shared && link.st_uid != geteuid() && link.st_uid != info.st_uid;
}

bool gNamedOnly = false;

bool ProcFdAvailable() {
  static const int available = access("/proc/self/fd", X_OK) == 0 ? 1 : 0;
  return available == 1;
}

std::string ProcFdPath(int descriptor) {
  return "/proc/self/fd/" + std::to_string(descriptor);
}

// The file the kernel opened for a link, found again by its own folder and
// name, and checked to be that very file.
bool FindOpenedFile(int descriptor, const struct stat& opened, int& folder, std::string& name) {
  if (!ProcFdAvailable()) return false;
  char target[4096];
  const ssize_t n = readlink(ProcFdPath(descriptor).c_str(), target, sizeof target);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof target || target[0] != '/') return false;
  if (!OpenFolderOf(std::string(target, static_cast<size_t>(n)), folder, name)) return false;
  struct stat found;
  if (fstatat(folder, name.c_str(), &found, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(found.st_mode) ||
      !SameFile(found, opened)) {
    close(folder);
    folder = -1;
    return false;
  }
  return true;
}

// ---- The temporary file ----

bool CreateTemp(NativeOutput& out) {
#ifdef O_TMPFILE
  if (!gNamedOnly && ProcFdAvailable()) {
    const int descriptor = openat(out.folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, kTempMode);
    if (descriptor >= 0) {
      out.descriptor = descriptor;
      out.unnamed = true;
      return true;
    }
    // Not supported here: fall back to a named file. Not allowed: that says it all.
    if (errno == EACCES || errno == EPERM || errno == EROFS) return false;
  }
#endif
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = TempNameCandidate();
    SetPending(out.folder, name);
    const int descriptor = openat(out.folder, name.c_str(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kTempMode);
    if (descriptor >= 0) {
      out.descriptor = descriptor;
      out.tempName = name;
      return true;
    }
    const int error = errno;
    ClearPending();
    if (error != EEXIST) {
      errno = error;
      return false;
    }
  }
  return false;
}

mode_t CurrentUmask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

void CloseDescriptors(NativeOutput& out) {
  if (out.descriptor >= 0) close(out.descriptor);
  if (out.folder >= 0) close(out.folder);
  out.descriptor = -1;
  out.folder = -1;
}

bool WriteAll(int descriptor, const char* bytes, size_t size) {
  while (size > 0) {
    const ssize_t n = write(descriptor, bytes, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Opens an existing .srt (or a link to one) as opening it for writing would,
// and sets `out` up to replace it. False when it may not or cannot be.
bool OpenExisting(NativeOutput& out, int folder, const std::string& name,
                  const struct stat& entry) {
  const bool link = S_ISLNK(entry.st_mode);
  if (link && IsPlantedLink(folder, entry)) return false;
  struct stat resolved;
  bool dangling = false;
  if (fstatat(folder, name.c_str(), &resolved, 0) != 0) {
    if (!link || errno != ENOENT) return false;
    dangling = true;  // opening for writing creates the link's target
  } else if (!S_ISREG(resolved.st_mode)) {
    // A directory, FIFO, socket or device is never opened: a FIFO would hold
    // the run up, a device could act on being opened.
    return false;
  }
  // The kernel follows links itself, with its own protections, and checks the
  // permission with the effective ids, access lists included.
  const int flags = O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (dangling ? O_CREAT : 0);
  const int descriptor = openat(folder, name.c_str(), flags, kNewFileMode);
  if (descriptor < 0) return false;
  struct stat opened;
  if (fstat(descriptor, &opened) != 0 || !S_ISREG(opened.st_mode)) {
    close(descriptor);
    return false;
  }
  out.original = opened;
  out.existed = true;
  if (link) {
    if (!FindOpenedFile(descriptor, opened, out.folder, out.targetName)) {
      close(descriptor);
      return false;
    }
  } else {
    struct stat again;
    if (fstatat(folder, name.c_str(), &again, AT_SYMLINK_NOFOLLOW) != 0 ||
        !SameFile(again, opened) || (out.folder = dup(folder)) < 0) {
      close(descriptor);
      return false;
    }
    out.targetName = name;
  }
  if (CreateTemp(out)) {
    close(descriptor);
    return true;
  }
  if (errno != EACCES && errno != EPERM) {
    close(descriptor);
    return false;
  }
  // The file may be written but its folder may not: write it in place.
  if (ftruncate(descriptor, 0) != 0) {
    close(descriptor);
    return false;
  }
  out.descriptor = descriptor;
  out.inPlace = true;
  return true;
}

}  // namespace

void UseNamedTemporaryFiles(bool named) {
  gNamedOnly = named;
}

void NativeOutputDeleter::operator()(NativeOutput* native) const {
  if (native == nullptr) return;
  CloseDescriptors(*native);
  delete native;
}

bool CreateNativeOutput(OutputFile& file, WideView widePath) {
  const NativePath path = ToNativePath(widePath);
  auto out = std::unique_ptr<NativeOutput, NativeOutputDeleter>(new NativeOutput);
  int folder = -1;
  std::string name;
  if (!OpenFolderOf(path, folder, name)) return false;
  struct stat entry;
  bool ok = false;
  if (fstatat(folder, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0) {
    ok = OpenExisting(*out, folder, name, entry);
    close(folder);
  } else if (errno == ENOENT) {
    out->folder = folder;
    out->targetName = name;
    ok = CreateTemp(*out);
  } else {
    close(folder);
  }
  if (!ok) return false;
  file.native = std::move(out);
  return true;
}

bool WriteNativeOutput(NativeOutput& native, const char* bytes, size_t size) {
  return WriteAll(native.descriptor, bytes, size);
}

bool RewindNativeOutput(NativeOutput& native) {
  return lseek(native.descriptor, 0, SEEK_SET) == 0 && ftruncate(native.descriptor, 0) == 0;
}

bool CommitNativeOutput(NativeOutput& out) {
  if (out.inPlace) {
    const bool closed = close(out.descriptor) == 0;
    out.descriptor = -1;
    return closed;
  }
  if (out.existed) {
    // Owner first: changing it clears the set-id bits that the mode restores.
    if (fchown(out.descriptor, out.original.st_uid, out.original.st_gid) != 0) {
      // Only root may give a file away; an ordinary user's output stays theirs.
    }
  }
  const mode_t mode =
      out.existed ? (out.original.st_mode & 07777) : (kNewFileMode & ~CurrentUmask());
  bool ok = fchmod(out.descriptor, mode) == 0;
  if (ok && out.unnamed) {
    const std::string name = TempNameCandidate();
    SetPending(out.folder, name);
    ok = linkat(AT_FDCWD, ProcFdPath(out.descriptor).c_str(), out.folder, name.c_str(),
                AT_SYMLINK_FOLLOW) == 0;
    if (ok) {
      out.tempName = name;
    } else {
      ClearPending();
    }
  }
  ok = close(out.descriptor) == 0 && ok;
  out.descriptor = -1;
  if (ok && out.existed) {
    // The file opened at the start must still be the one in place.
    struct stat now;
    ok = fstatat(out.folder, out.targetName.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
         SameFile(now, out.original);
  }
  if (ok) {
    ok = renameat(out.folder, out.tempName.c_str(), out.folder, out.targetName.c_str()) == 0;
  }
  if (!ok && !out.tempName.empty()) unlinkat(out.folder, out.tempName.c_str(), 0);
  if (!out.tempName.empty()) ClearPending();
  out.tempName.clear();
  return ok;
}

void AbandonNativeOutput(NativeOutput& out) {
  if (out.descriptor >= 0) close(out.descriptor);
  out.descriptor = -1;
  if (!out.tempName.empty()) {
    unlinkat(out.folder, out.tempName.c_str(), 0);
    ClearPending();
    out.tempName.clear();
  }
}
