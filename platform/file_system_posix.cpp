#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/file_system.h"
#include "platform/locale_text.h"
#include "platform/native_path.h"

namespace {

// O_NONBLOCK: should the path be swapped for a FIFO after it was checked, the
// open still returns at once; the check on the open file then refuses it.
int OpenRegularFile(const NativePath& name) {
  struct stat st;
  if (stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  const int descriptor = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return -1;
  if (fstat(descriptor, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(descriptor);
    return -1;
  }
  return descriptor;
}

}  // namespace

int ReadFirstByte(WideView path) {
  const int descriptor = OpenRegularFile(ToNativePath(path));
  if (descriptor < 0) return -1;
  unsigned char first = 0;
  ssize_t n;
  do {
    n = read(descriptor, &first, 1);
  } while (n < 0 && errno == EINTR);
  close(descriptor);
  return n < 0 ? -1 : first;
}

bool ReadWholeFile(WideView path, std::string& bytes) {
  const int descriptor = OpenRegularFile(ToNativePath(path));
  if (descriptor < 0) return false;
  struct stat st;
  bytes.clear();
  if (fstat(descriptor, &st) == 0 && st.st_size > 0) bytes.reserve(static_cast<size_t>(st.st_size));
  char chunk[1 << 16];
  for (;;) {
    const ssize_t n = read(descriptor, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      close(descriptor);
      return false;
    }
    if (n == 0) break;
    bytes.append(chunk, static_cast<size_t>(n));
  }
  close(descriptor);
  return true;
}

WideString CurrentDirectory() {
  // A fixed buffer on purpose: a directory deeper than PATH_MAX gets an empty
  // name (and the caller relative paths), where its absolute name would be
  // too long for every call that takes a path.
  char buffer[PATH_MAX];
  if (getcwd(buffer, sizeof buffer) == nullptr) return WideString();
  return WidenFromLocale(buffer);
}
