#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>

#include "platform/file_system.h"
#include "platform/locale_text.h"
#include "platform/native_path.h"

namespace {

// O_NONBLOCK: should the path be swapped for a FIFO after it was checked, the
// open still returns at once; the check on the open file then refuses it.
// `st` receives what the open file is.
int OpenRegularFile(const NativePath& name, struct stat& st) {
  if (stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  const int descriptor = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return -1;
  if (fstat(descriptor, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(descriptor);
    return -1;
  }
  return descriptor;
}

// The byte at the start of the open file, 0 when it is empty, -1 when the read fails.
int FirstByteOf(int descriptor) {
  unsigned char first = 0;
  ssize_t n;
  do {
    n = pread(descriptor, &first, 1, 0);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? -1 : first;
}

}  // namespace

int ReadFirstByte(WideView path) {
  struct stat st;
  const int descriptor = OpenRegularFile(ToNativePath(path), st);
  if (descriptor < 0) return -1;
  const int first = FirstByteOf(descriptor);
  close(descriptor);
  return first;
}

struct NativeInput {
  int descriptor = -1;
  size_t size = 0;  // when opened
  // The file's first bytes, read with its first byte, until the window takes them.
  unsigned char* start = nullptr;  // from std::malloc, kWindowBytes long
  size_t startSize = 0;
};

void NativeInputDeleter::operator()(NativeInput* native) const {
  if (native->descriptor >= 0) close(native->descriptor);
  std::free(native->start);
  delete native;
}

namespace {

// The open regular file `descriptor` (of the size in `st`) as `file`'s input;
// false, with the descriptor closed, when its size cannot be an input's.
bool AdoptInput(InputFile& file, int descriptor, const struct stat& st) {
  if (st.st_size < 0) {
    close(descriptor);
    return false;
  }
  file.native.reset(new NativeInput{descriptor, static_cast<size_t>(st.st_size)});
  return true;
}

}  // namespace

bool OpenInputFile(InputFile& file, WideView path) {
  file.native.reset();
  struct stat st;
  const int descriptor = OpenRegularFile(ToNativePath(path), st);
  return descriptor >= 0 && AdoptInput(file, descriptor, st);
}

int OpenInputWithFirstByte(InputFile& file, WideView path) {
  file.native.reset();
  struct stat st;
  const int descriptor = OpenRegularFile(ToNativePath(path), st);
  if (descriptor < 0) return -1;
  if (!AdoptInput(file, descriptor, st)) return -2;
  NativeInput& input = *file.native;
  // The first byte comes with as much of the file as the conversion's window
  // would read first, so that the one read serves both (an empty file needs none).
  if (input.size == 0) return 0;
  input.start = static_cast<unsigned char*>(std::malloc(kWindowBytes));
  if (input.start == nullptr) {
    const int first = FirstByteOf(descriptor);
    if (first < 0) file.native.reset();
    return first;
  }
  const size_t want = std::min(input.size, kWindowBytes);
  ssize_t n;
  do {
    n = pread(descriptor, input.start, want, 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    file.native.reset();
    return -1;
  }
  input.startSize = static_cast<size_t>(n);
  return n == 0 ? 0 : input.start[0];
}

ByteSource InputFileSource(InputFile& file) {
  ByteSource source;
  source.context = file.native.get();
  source.read = [](void* context, size_t offset, unsigned char* buffer,
                   size_t size) -> std::int64_t {
    const NativeInput& input = *static_cast<NativeInput*>(context);
    if (offset >= input.size) return 0;  // below the size, so it fits an off_t
    // Never past the size it had when opened, and never more than one read may return.
    size = std::min({size, input.size - offset, size_t{1} << 30});
    for (;;) {
      const ssize_t n = pread(input.descriptor, buffer, size, static_cast<off_t>(offset));
      if (n >= 0) return n;
      if (errno != EINTR) return -1;
    }
  };
  source.takeStart = [](void* context, size_t* size, size_t* capacity) -> unsigned char* {
    NativeInput& input = *static_cast<NativeInput*>(context);
    unsigned char* start = input.start;
    *size = input.startSize;
    *capacity = start == nullptr ? 0 : kWindowBytes;
    input.start = nullptr;
    input.startSize = 0;
    return start;
  };
  return source;
}

WideString CurrentDirectory() {
  // A fixed buffer on purpose: a directory deeper than PATH_MAX gets an empty
  // name (and the caller relative paths), where its absolute name would be
  // too long for every call that takes a path.
  char buffer[PATH_MAX];
  if (getcwd(buffer, sizeof buffer) == nullptr) return WideString();
  return WidenFromLocale(buffer);
}
