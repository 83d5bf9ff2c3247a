#include "text/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>

namespace {

constexpr size_t kFlushSize = 1 << 16;
constexpr int kMaxLinkDepth = 40;  // as the kernel's own limit on nested links

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  return path.substr(0, slash + 1);
}

// Follows a chain of symbolic links to the path that a write would create or replace.
std::string FinalTarget(const std::string& path) {
  std::string current = path;
  for (int depth = 0; depth < kMaxLinkDepth; ++depth) {
    struct stat st;
    if (lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    char target[PATH_MAX];
    const ssize_t n = readlink(current.c_str(), target, sizeof target - 1);
    if (n < 0) return current;
    const std::string link(target, static_cast<size_t>(n));
    current = link[0] == '/' ? link : DirectoryOf(current) + link;
  }
  return current;
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

void Flush(OutputFile& file) {
  if (!file.failed && !WriteAll(file.descriptor, file.buffer.data(), file.buffer.size()))
    file.failed = true;
  file.buffer.clear();
}

}  // namespace

bool CreateOutputFile(OutputFile& file, const std::string& path) {
  file.targetPath = FinalTarget(path);
  struct stat existing;
  const bool exists = stat(file.targetPath.c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode)) return false;
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    file.tempPath =
        file.targetPath + ".tmp" + std::to_string(getpid()) + "_" + std::to_string(attempt);
    // 0666 less the umask, as for any newly created file.
    file.descriptor = open(file.tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (file.descriptor >= 0 || errno != EEXIST) break;
  }
  if (file.descriptor < 0) return false;
  if (exists && S_ISREG(existing.st_mode)) {
    // Replacing a file keeps its permission bits (and, where allowed, its owner).
    if (fchown(file.descriptor, existing.st_uid, existing.st_gid) != 0) {
      // Not allowed for an ordinary user; the new file keeps the user's own ownership.
    }
    fchmod(file.descriptor, existing.st_mode & 07777);
  }
  file.buffer.reserve(kFlushSize * 2);
  return true;
}

void WriteOutputBytes(OutputFile& file, const char* bytes, size_t size) {
  file.buffer.append(bytes, size);
  if (file.buffer.size() >= kFlushSize) Flush(file);
}

bool CommitOutputFile(OutputFile& file) {
  Flush(file);
  const bool closed = close(file.descriptor) == 0;
  file.descriptor = -1;
  if (file.failed || !closed || std::rename(file.tempPath.c_str(), file.targetPath.c_str()) != 0) {
    unlink(file.tempPath.c_str());
    return false;
  }
  return true;
}

void AbandonOutputFile(OutputFile& file) {
  if (file.descriptor >= 0) close(file.descriptor);
  file.descriptor = -1;
  unlink(file.tempPath.c_str());
}
