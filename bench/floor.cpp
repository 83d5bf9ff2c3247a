// The floor of a conversion: reads a file through one reused 1 MiB buffer and
// writes as many bytes as a conversion's output has, with no conversion at
// all. No program that reads the whole input and writes its output this way
// can take less time; bench/run.sh sets each conversion beside it.
//
//   lumentrace_floor INPUT OUTPUT [OUTPUT_BYTES]
//   lumentrace_floor --list LIST
//
// OUTPUT_BYTES defaults to the input's size. Output is written as input is
// read, in proportion, from the same buffer. With --list, each line of LIST
// is "INPUT<TAB>OUTPUT<TAB>OUTPUT_BYTES" and every pair is done in turn by
// one process: the floor of a run over many files, each output a new file.
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

// Reads `inputPath` and writes `outputBytes` bytes to a new file
// `outputPath` (replaced if it exists). False, with the failing path shown,
// on any error.
bool Floor(const char* inputPath, const char* outputPath, const std::uint64_t* outputBytes,
           std::vector<char>& buffer) {
  const int input = open(inputPath, O_RDONLY | O_CLOEXEC);
  if (input < 0) {
    std::perror(inputPath);
    return false;
  }
  const off_t end = lseek(input, 0, SEEK_END);
  if (end < 0 || lseek(input, 0, SEEK_SET) != 0) {
    std::perror(inputPath);
    close(input);
    return false;
  }
  const auto inputSize = static_cast<std::uint64_t>(end);
  const std::uint64_t outputSize = outputBytes != nullptr ? *outputBytes : inputSize;
  const int output = open(outputPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (output < 0) {
    std::perror(outputPath);
    close(input);
    return false;
  }
  std::uint64_t readSoFar = 0;
  std::uint64_t written = 0;
  bool ok = true;
  for (;;) {
    const ssize_t got = read(input, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      std::perror(inputPath);
      ok = false;
      break;
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
        std::perror(outputPath);
        ok = false;
        break;
      }
      written = due;
    }
    if (got == 0) break;
  }
  if (close(output) != 0 && ok) {
    std::perror(outputPath);
    ok = false;
  }
  close(input);
  return ok;
}

// Each "INPUT<TAB>OUTPUT<TAB>OUTPUT_BYTES" line of `listPath` in turn.
int FloorOfList(const char* listPath, std::vector<char>& buffer) {
  std::FILE* list = std::fopen(listPath, "r");
  if (list == nullptr) {
    std::perror(listPath);
    return 1;
  }
  std::vector<char> line(8192);
  int status = 0;
  while (status == 0 && std::fgets(line.data(), static_cast<int>(line.size()), list) != nullptr) {
    char* input = line.data();
    char* output = std::strchr(input, '\t');
    char* bytes = output != nullptr ? std::strchr(output + 1, '\t') : nullptr;
    if (bytes == nullptr) {
      std::fprintf(stderr, "%s: a line without three fields\n", listPath);
      status = 1;
      break;
    }
    *output++ = '\0';
    *bytes++ = '\0';
    const std::uint64_t outputBytes = std::strtoull(bytes, nullptr, 10);
    if (!Floor(input, output, &outputBytes, buffer)) status = 1;
  }
  std::fclose(list);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char> buffer(kBufferSize);
  if (argc == 3 && std::strcmp(argv[1], "--list") == 0) return FloorOfList(argv[2], buffer);
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: %s INPUT OUTPUT [OUTPUT_BYTES] | --list LIST\n", argv[0]);
    return 2;
  }
  std::uint64_t outputBytes = 0;
  if (argc == 4) outputBytes = std::strtoull(argv[3], nullptr, 10);
  return Floor(argv[1], argv[2], argc == 4 ? &outputBytes : nullptr, buffer) ? 0 : 1;
}
