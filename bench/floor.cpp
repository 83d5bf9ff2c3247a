// The floor of a conversion: reads a file through one reused 1 MiB buffer and
// writes as many bytes as a conversion's output has, with no conversion at
// all. No program that reads the whole input and writes its output this way
// can take less time; bench/run.sh sets each conversion beside it.
//
//   lumentrace_floor INPUT OUTPUT [OUTPUT_BYTES]
//
// OUTPUT_BYTES defaults to the input's size. Output is written as input is
// read, in proportion, from the same buffer.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kBufferSize = 1 << 20;

bool WriteAll(int descriptor, const char* bytes, std::uint64_t size) {
  while (size > 0) {
    const size_t step = size < kBufferSize ? static_cast<size_t>(size) : kBufferSize;
    const ssize_t written = write(descriptor, bytes, step);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    size -= static_cast<std::uint64_t>(written);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: %s INPUT OUTPUT [OUTPUT_BYTES]\n", argv[0]);
    return 2;
  }
  const int input = open(argv[1], O_RDONLY | O_CLOEXEC);
  if (input < 0) {
    std::perror(argv[1]);
    return 1;
  }
  const off_t end = lseek(input, 0, SEEK_END);
  if (end < 0 || lseek(input, 0, SEEK_SET) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  const auto inputSize = static_cast<std::uint64_t>(end);
  const std::uint64_t outputSize = argc == 4 ? std::strtoull(argv[3], nullptr, 10) : inputSize;
  const int output = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (output < 0) {
    std::perror(argv[2]);
    return 1;
  }
  std::vector<char> buffer(kBufferSize);
  std::uint64_t readSoFar = 0;
  std::uint64_t written = 0;
  for (;;) {
    const ssize_t got = read(input, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      std::perror(argv[1]);
      return 1;
    }
    readSoFar += static_cast<std::uint64_t>(got);
    // The output due so far: the same share of it as of the input.
    const std::uint64_t due = got == 0 || readSoFar >= inputSize
                                  ? outputSize
                                  : static_cast<std::uint64_t>(static_cast<double>(outputSize) *
                                                               (static_cast<double>(readSoFar) /
                                                                static_cast<double>(inputSize)));
    if (due > written) {
      if (!WriteAll(output, buffer.data(), due - written)) {
        std::perror(argv[2]);
        return 1;
      }
      written = due;
    }
    if (got == 0) break;
  }
  if (close(output) != 0) {
    std::perror(argv[2]);
    return 1;
  }
  close(input);
  return 0;
}
