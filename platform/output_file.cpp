#include "platform/output_file.h"

namespace {

constexpr size_t kFlushSize = 1 << 16;
// A write at least this long, with nothing buffered before it, goes out as it
// is: copying it first would only delay the same write. Writers that hand
// over whole blocks (the SRT writer does) thus never pay for the copy.
constexpr size_t kDirectSize = 1 << 12;

void Flush(OutputFile& file) {
  if (!file.failed && !file.buffer.empty() &&
      !WriteNativeOutput(*file.native, file.buffer.data(), file.buffer.size())) {
    file.failed = true;
  }
  file.buffer.clear();
}

}  // namespace

bool CreateOutputFile(OutputFile& file, WideView path) {
  file.memory = nullptr;
  file.failed = false;
  file.buffer.clear();
  return CreateNativeOutput(file, path);
}

void CreateOutputInMemory(OutputFile& file, std::string& bytes) {
  file.native.reset();
  bytes.clear();
  file.memory = &bytes;
  file.failed = false;
}

void WriteOutputBytes(OutputFile& file, const char* bytes, size_t size) {
  if (file.memory != nullptr) {
    file.memory->append(bytes, size);
    return;
  }
  if (file.buffer.empty() && size >= kDirectSize) {
    if (!file.failed && !WriteNativeOutput(*file.native, bytes, size)) file.failed = true;
    return;
  }
  if (file.buffer.capacity() < kFlushSize * 2) file.buffer.reserve(kFlushSize * 2);
  file.buffer.append(bytes, size);
  if (file.buffer.size() >= kFlushSize) Flush(file);
}

bool RestartOutput(OutputFile& file) {
  file.buffer.clear();
  if (file.memory != nullptr) {
    file.memory->clear();
    return true;
  }
  if (!file.native || file.failed) return false;
  if (!RewindNativeOutput(*file.native)) file.failed = true;
  return !file.failed;
}

bool CommitOutputFile(OutputFile& file) {
  if (file.memory != nullptr) {
    file.memory = nullptr;
    return true;
  }
  if (!file.native) return false;
  Flush(file);
  bool committed = false;
  if (file.failed) {
    AbandonNativeOutput(*file.native);
  } else {
    committed = CommitNativeOutput(*file.native);
  }
  file.native.reset();
  return committed;
}

void AbandonOutputFile(OutputFile& file) {
  file.memory = nullptr;
  file.buffer.clear();
  if (!file.native) return;
  AbandonNativeOutput(*file.native);
  file.native.reset();
}
