// The web page writes no files: every .srt goes to memory and from there to
// the page's download links, so a named output cannot be created.
#include "platform/output_file.h"

struct NativeOutput {};

void NativeOutputDeleter::operator()(NativeOutput* native) const {
  delete native;
}

void UseNamedTemporaryFiles(bool) {}

bool CreateNativeOutput(OutputFile&, WideView) {
  return false;
}

bool WriteNativeOutput(NativeOutput&, const char*, size_t) {
  return false;
}

bool RewindNativeOutput(NativeOutput&) {
  return false;
}

bool CommitNativeOutput(NativeOutput&) {
  return false;
}

void AbandonNativeOutput(NativeOutput&) {}
