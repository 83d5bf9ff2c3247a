// The output file on POSIX systems.
//
// The target is found by walking its path one component at a time
// (path_walk_posix.h), so every link on the way is judged, and it is never
// opened for writing by name: the entry is opened O_PATH|O_NOFOLLOW, checked
// to be a regular file, and only that checked descriptor is reopened.
//
// The temporary file is unnamed (O_TMPFILE) where the file system allows, so
// that not even SIGKILL can leave it behind; a new .srt gets its name by
// linking it straight to that name, and a replacement gets a short random
// name only for the instant between linking it into the folder and renaming
// it over the target. Elsewhere it is named from the start, and every signal
// that would end the program and can be caught removes it first.
//
// Where the folder may not be changed (not writable, append-only, or the
// rename refused) the target is rewritten in place: the output is first
// written in full to memory outside the folder, and only then copied over the
// target from its start, which is then cut to the new length.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/file_attributes_posix.h"
#include "platform/native_path.h"
#include "platform/output_file.h"
#include "platform/path_walk_posix.h"

struct NativeOutput {
  // What is written to: the temporary file in the target's folder, or, for an
  // in-place rewrite, a buffer in memory.
  int descriptor = -1;
  int folder = -1;  // O_PATH descriptor of the target's folder
  int target = -1;  // O_PATH descriptor of the existing target; -1 for a new file
  std::string targetName;
  std::string tempName;  // the temporary file's name in `folder`; empty while unnamed
  bool unnamed = false;
  bool inPlace = false;
  struct stat original {};  // the target as it was found
};

namespace {

constexpr mode_t kNewFileMode = 0666;  // less the umask or the folder's default access list
constexpr mode_t kTempMode = 0600;     // nobody else reads the output while it is written
constexpr size_t kTempNameLength = 20;

// ---- Removing a named temporary file when a signal ends the program ----

// One conversion at a time, so one pending name at most. The handler runs on
// the program's one thread, between two of its instructions: it reads the
// name only when gPending says the name is whole, and the fences keep the
// compiler from moving the name's stores across the flag's. (Blocking the
// signals instead would cost four system calls a file.)
int gPendingFolder = -1;
char gPendingName[kTempNameLength + 1];
volatile std::sig_atomic_t gPending = 0;

// Every signal whose default action ends the program and which can be caught.
// SIGKILL and SIGSTOP cannot be; SIGXFSZ is ignored by the program.
constexpr int kCleanupSignals[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT,   SIGUSR1, SIGUSR2,
                                   SIGALRM, SIGPIPE, SIGXCPU, SIGVTALRM, SIGPROF};

extern "C" void RemovePendingAndReraise(int signal) {
  if (gPending) {
    std::atomic_signal_fence(std::memory_order_seq_cst);
    unlinkat(gPendingFolder, gPendingName, 0);
  }
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
    // A signal the user chose to ignore (nohup), or one the program handles
    // itself, is left as it is.
    if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) continue;
    struct sigaction action {};
    action.sa_handler = RemovePendingAndReraise;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
  }
}

void SetPending(int folder, const std::string& name) {
  InstallCleanupHandlers();
  gPending = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  gPendingFolder = folder;
  std::memcpy(gPendingName, name.c_str(), name.size() + 1);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  gPending = 1;
}

void ClearPending() {
  gPending = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

// ---- Names, folders and files ----

// Random numbers fetched from the system a batch at a time, each used once:
// one call serves many files. 0 when the system gave none.
unsigned int NextRandom() {
  static unsigned int batch[64];
  static size_t left = 0;
  if (left == 0) {
    if (getrandom(batch, sizeof batch, 0) != static_cast<ssize_t>(sizeof batch)) return 0;
    left = sizeof batch / sizeof batch[0];
  }
  const unsigned int random = batch[--left];
  batch[left] = 0;  // not to be read again
  return random;
}

// A name nobody can guess, so that nobody can prepare one in its place.
std::string TempNameCandidate() {
  unsigned int random = NextRandom();
  if (random == 0) {
    static unsigned int counter = 0;
    random = static_cast<unsigned int>(getpid()) * 2654435761u ^
             static_cast<unsigned int>(std::time(nullptr)) ^ (++counter * 40503u) ^
             static_cast<unsigned int>(clock());
  }
  char name[kTempNameLength + 1];
  std::snprintf(name, sizeof name, ".lumentrace-%08x", random);
  return name;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Files that are the kernel's controls rather than data: writing a subtitle
// into one could change the system.
bool IsPseudoFileSystem(int descriptor) {
  struct statfs info;
  if (fstatfs(descriptor, &info) != 0) return true;
  switch (static_cast<unsigned long>(info.f_type)) {
    case 0x9fa0:      // proc
    case 0x62656572:  // sysfs
    case 0x27e0eb:    // cgroup
    case 0x63677270:  // cgroup2
    case 0x64626720:  // debugfs
    case 0x74726163:  // tracefs
    case 0x73636673:  // securityfs
    case 0xcafe4a11:  // bpf
    case 0x6165676c:  // pstore
    case 0x62656570:  // configfs
    case 0xde5e81e4:  // efivarfs
    case 0xf97cff8c:  // selinuxfs
    case 0x43415d53:  // smackfs
    case 0x42494e4d:  // binfmt_misc
    case 0x65735543:  // fusectl
    case 0x1cd1:      // devpts
      return true;
    default:
      return false;
  }
}

// Whether entries of the folder may be added but not renamed or removed
// (chattr +a), or not changed at all (+i), as the flags say.
bool FolderFlagsAppendOnly(int folder) {
  const int descriptor = ProcFdAvailable()
                             ? open(ProcFdPath(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                             : openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return false;
  int flags = 0;
  const bool known = ioctl(descriptor, FS_IOC_GETFLAGS, &flags) == 0;
  close(descriptor);
  return known && (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0;
}

// The folder as one statx call sees it: its device and, where the system
// tells, whether it is append-only or immutable (which statx reports as the
// kernel applies it, without opening the folder).
struct FolderState {
  bool known = false;  // the call succeeded
  dev_t device = 0;
  bool flagsKnown = false;
  bool appendOnly = false;
};

FolderState ReadFolderState(int folder) {
  FolderState state;
  struct statx info {};
  if (statx(folder, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT, STATX_TYPE, &info) != 0) {
    return state;
  }
  constexpr std::uint64_t kFlags = STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE;
  state.known = true;
  state.device = makedev(info.stx_dev_major, info.stx_dev_minor);
  state.flagsKnown = (info.stx_attributes_mask & kFlags) == kFlags;
  state.appendOnly = (info.stx_attributes & kFlags) != 0;
  return state;
}

bool FolderIsAppendOnly(int folder, const FolderState& state) {
  return state.flagsKnown ? state.appendOnly : FolderFlagsAppendOnly(folder);
}

bool FolderIsAppendOnly(int folder) {
  return FolderIsAppendOnly(folder, ReadFolderState(folder));
}

// Opens the checked target for writing: the very file `target` refers to,
// never whatever the name may lead to by now. -1 when it may not be written.
int ReopenForWriting(const NativeOutput& out) {
  const int flags = O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  int descriptor = -1;
  if (ProcFdAvailable()) {
    descriptor = open(ProcFdPath(out.target).c_str(), flags);
  } else {
    // Without /proc the name is all there is; O_NOFOLLOW and the check below
    // still keep the output off anything but this file.
    descriptor = openat(out.folder, out.targetName.c_str(), flags | O_NOFOLLOW);
  }
  if (descriptor < 0) return -1;
  struct stat opened;
  if (fstat(descriptor, &opened) != 0 || !S_ISREG(opened.st_mode) ||
      !SameFile(opened, out.original)) {
    close(descriptor);
    return -1;
  }
  return descriptor;
}

// Whether this process may write the very file `target` refers to: the
// kernel checks the permission with the effective ids, access lists
// included, on the file found. Asked with faccessat2 on the descriptor, which
// opens nothing (nobody watching the file sees it opened for writing);
// where that call is missing or refused (some sandboxes refuse it with
// EPERM), by opening the file for writing.
bool MayWrite(const NativeOutput& out) {
  if (syscall(SYS_faccessat2, out.target, "", W_OK, AT_EACCESS | AT_EMPTY_PATH) == 0) return true;
  if (errno == EACCES || errno == EROFS || errno == ETXTBSY) return false;
  const int check = ReopenForWriting(out);
  if (check < 0) return false;
  close(check);
  return true;
}

bool gNamedOnly = false;

// A file in memory for an output that is to be copied over its target.
int CreateBuffer() {
  const int descriptor = memfd_create("lumentrace", MFD_CLOEXEC);
  if (descriptor >= 0) return descriptor;
  const char* folder = getenv("TMPDIR");
  return open(folder != nullptr && *folder == '/' ? folder : "/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC,
              kTempMode);
}

// What an attempt at an unnamed temporary file gave.
enum class Unnamed { kNotTried, kCreated, kUnsupported, kRefused };

Unnamed TryUnnamedTemp(NativeOutput& out) {
  if (gNamedOnly || !ProcFdAvailable()) return Unnamed::kUnsupported;
  // Created as any new file is (umask, default access list): unnamed,
  // nobody else can open it meanwhile.
  const int descriptor = openat(out.folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC,
                                out.target < 0 ? kNewFileMode : kTempMode);
  if (descriptor >= 0) {
    out.descriptor = descriptor;
    out.unnamed = true;
    return Unnamed::kCreated;
  }
  // Not supported here: a named file may do. Not allowed: that says it all.
  return errno == EACCES || errno == EPERM || errno == EROFS ? Unnamed::kRefused
                                                             : Unnamed::kUnsupported;
}

// `unnamed`: what an earlier attempt at an unnamed file gave (errno still
// says why when it was refused).
bool CreateTemp(NativeOutput& out, Unnamed unnamed) {
  if (unnamed == Unnamed::kNotTried) unnamed = TryUnnamedTemp(out);
  if (unnamed == Unnamed::kCreated) return true;
  if (unnamed == Unnamed::kRefused) return false;
  // A named file in a folder where it could not be removed again is not made.
  if (FolderIsAppendOnly(out.folder)) {
    errno = EPERM;
    return false;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = TempNameCandidate();
    SetPending(out.folder, name);
    const int descriptor = openat(out.folder, name.c_str(),
                                  O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kTempMode);
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

// Links the unnamed file `descriptor` into `folder` as `name`; false, with
// errno set, when that fails (EEXIST: something has the name). The
// descriptor itself can be linked only with a privilege most users lack;
// where it is refused once, the link goes through /proc for the rest of the
// run, which costs a walk through /proc each time.
bool LinkUnnamed(int descriptor, int folder, const char* name) {
  static bool direct = true;
  if (direct) {
    if (linkat(descriptor, "", folder, name, AT_EMPTY_PATH) == 0) return true;
    if (errno != ENOENT && errno != EPERM && errno != EINVAL) return false;
    direct = false;
  }
  return linkat(AT_FDCWD, ProcFdPath(descriptor).c_str(), folder, name, AT_SYMLINK_FOLLOW) == 0;
}

// Gives the unnamed temporary file a fresh name in the folder.
bool NameTemp(NativeOutput& out) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = TempNameCandidate();
    SetPending(out.folder, name);
    if (LinkUnnamed(out.descriptor, out.folder, name.c_str())) {
      out.tempName = name;
      return true;
    }
    const int error = errno;
    ClearPending();
    if (error != EEXIST) return false;
  }
  return false;
}

void RemoveTemp(NativeOutput& out) {
  if (out.tempName.empty()) return;
  unlinkat(out.folder, out.tempName.c_str(), 0);
  ClearPending();
  out.tempName.clear();
}

void CloseDescriptors(NativeOutput& out) {
  for (int* descriptor : {&out.descriptor, &out.folder, &out.target}) {
    if (*descriptor >= 0) close(*descriptor);
    *descriptor = -1;
  }
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

// Copies everything `from` holds over `to` from its start and cuts `to` to
// that length. Only here can a failure leave `to` part old, part new.
bool CopyOver(int from, int to) {
  char block[1 << 16];
  off_t offset = 0;
  for (;;) {
    const ssize_t n = pread(from, block, sizeof block, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      const ssize_t m = pwrite(to, block + done, static_cast<size_t>(n - done), offset + done);
      if (m < 0 && errno == EINTR) continue;
      if (m <= 0) return false;
      done += m;
    }
    offset += n;
  }
  return ftruncate(to, offset) == 0;
}

bool CommitInPlace(NativeOutput& out) {
  int descriptor = -1;
  if (out.target >= 0) {
    descriptor = ReopenForWriting(out);
  } else {
    // Created only now, the one moment it can be, as any new file is.
    descriptor =
        openat(out.folder, out.targetName.c_str(),
               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, kNewFileMode);
  }
  if (descriptor < 0) return false;
  bool ok = CopyOver(out.descriptor, descriptor);
  ok = close(descriptor) == 0 && ok;
  if (!ok && out.target < 0) unlinkat(out.folder, out.targetName.c_str(), 0);
  return ok;
}

bool CommitNew(NativeOutput& out) {
  // The unnamed kind was created as any new file is; the named one was made
  // private while written and now gets what a plain create would have given.
  if (!out.unnamed && !ApplyNewFileMode(out.folder, out.descriptor, kNewFileMode)) return false;
  if (out.unnamed) {
    // Linked to the final name directly: it cannot replace anything that
    // appeared meanwhile, and no removal is needed afterwards.
    return LinkUnnamed(out.descriptor, out.folder, out.targetName.c_str());
  }
  const bool closed = close(out.descriptor) == 0;
  out.descriptor = -1;
  if (!closed) return false;
  bool ok = linkat(out.folder, out.tempName.c_str(), out.folder, out.targetName.c_str(), 0) == 0;
  if (!ok && errno != EEXIST) {
    // A file system without hard links: the rename, which must not replace.
    ok = renameat2(out.folder, out.tempName.c_str(), out.folder, out.targetName.c_str(),
                   RENAME_NOREPLACE) == 0;
    if (!ok && (errno == EINVAL || errno == ENOSYS)) {
      // Nor a rename that refuses to replace: make sure nothing is in the way.
      struct stat entry;
      ok = fstatat(out.folder, out.targetName.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0 &&
           errno == ENOENT &&
           renameat(out.folder, out.tempName.c_str(), out.folder, out.targetName.c_str()) == 0;
    }
    if (ok) {
      ClearPending();
      out.tempName.clear();
    }
  }
  RemoveTemp(out);
  return ok;
}

bool CommitReplacement(NativeOutput& out) {
  // What a copy cannot carry (an access list the file system refuses to set
  // here, say) is kept by rewriting the file itself instead.
  bool ok = CarryFileAttributes(out.target, out.original, out.descriptor);
  if (!ok) return CommitInPlace(out);
  // On disk before it replaces the earlier file, so that a crash leaves one
  // of the two whole.
  if (fsync(out.descriptor) != 0) return false;
  if (out.unnamed && !NameTemp(out)) return false;
  // The file found at the start must still be the one in place.
  struct stat now;
  ok = fstatat(out.folder, out.targetName.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
       SameFile(now, out.original);
  if (ok && renameat(out.folder, out.tempName.c_str(), out.folder, out.targetName.c_str()) == 0) {
    ClearPending();
    out.tempName.clear();
    const bool closed = close(out.descriptor) == 0;
    out.descriptor = -1;
    return closed;
  }
  const int error = errno;
  RemoveTemp(out);
  // The folder refuses renames (append-only, say): rewrite in place.
  if (ok && (error == EPERM || error == EACCES)) return CommitInPlace(out);
  return false;
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
  WalkedPath walked;
  if (!WalkPath(path, true, walked)) return false;
  auto out = std::unique_ptr<NativeOutput, NativeOutputDeleter>(new NativeOutput);
  out->folder = walked.folder;
  out->target = walked.entry;
  out->targetName = walked.name;
  out->original = walked.info;
  walked = WalkedPath();  // now owned by `out`
  if (out->targetName == ".") return false;
  // The unnamed temporary file comes first: none of the kernel's pseudo file
  // systems can hold one, so one made in the folder says the folder is a
  // data one, and only where none can be made is the file system asked.
  // Should the target be refused below, the file goes with its descriptor
  // and leaves nothing behind.
  const Unnamed unnamed = TryUnnamedTemp(*out);
  if (unnamed != Unnamed::kCreated) {
    const int error = errno;
    if (IsPseudoFileSystem(out->folder)) return false;
    errno = error;
  }
  if (out->target < 0 && unnamed == Unnamed::kCreated) {
    file.native = std::move(out);
    return true;
  }
  FolderState folder;
  if (out->target >= 0) {
    // A directory, FIFO, socket or device is never opened: a FIFO would hold
    // the run up, a device could act on being opened.
    if (!S_ISREG(out->original.st_mode)) return false;
    // A file on the folder's own device is on the folder's file system,
    // already found not to be a pseudo one; another may be mounted over it.
    folder = ReadFolderState(out->folder);
    if ((!folder.known || folder.device != out->original.st_dev) &&
        IsPseudoFileSystem(out->target)) {
      return false;
    }
    if (!MayWrite(*out)) return false;
  }
  // A replacement could not be renamed into an append-only folder, nor its
  // temporary file removed again: such a target is rewritten in place.
  const bool replaceable = out->target < 0 || !FolderIsAppendOnly(out->folder, folder);
  if (!replaceable && unnamed == Unnamed::kCreated) {
    close(out->descriptor);
    out->descriptor = -1;
    out->unnamed = false;
  }
  if (!replaceable || !CreateTemp(*out, unnamed)) {
    // The folder may not be changed but the file may be written (or, in an
    // append-only folder, created): rewrite it in place.
    if (replaceable && errno != EACCES && errno != EPERM) return false;
    if (out->target < 0 && !FolderIsAppendOnly(out->folder)) return false;
    out->descriptor = CreateBuffer();
    if (out->descriptor < 0) return false;
    out->inPlace = true;
  }
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
  bool ok = false;
  if (out.inPlace) {
    ok = CommitInPlace(out);
  } else if (out.target < 0) {
    ok = CommitNew(out);
  } else {
    ok = CommitReplacement(out);
  }
  AbandonNativeOutput(out);
  return ok;
}

void AbandonNativeOutput(NativeOutput& out) {
  if (out.descriptor >= 0) close(out.descriptor);
  out.descriptor = -1;
  RemoveTemp(out);
}
