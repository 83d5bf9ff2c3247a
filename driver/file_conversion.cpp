#include "driver/file_conversion.h"

#include <cstdint>

#include "convert/conversion.h"
#include "driver/console_name.h"
#include "driver/path_names.h"
#include "platform/code_page.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/output_file.h"
#include "text/code_page_names.h"

namespace {

SrtSink FileSink(OutputFile& file) {
  SrtSink sink;
  sink.context = &file;
  sink.write = [](void* context, const char* bytes, size_t size) {
    WriteOutputBytes(*static_cast<OutputFile*>(context), bytes, size);
  };
  sink.restart = [](void* context) { RestartOutput(*static_cast<OutputFile*>(context)); };
  return sink;
}

}  // namespace

SourceEncoding DetectEncoding(WideView path) {
  const int first = ReadFirstByte(path);
  return first < 0 ? EncodingUnreadable : EncodingOfFirstByte(first);
}

int ConvertFile(const WideString& path) {
  if (!HasSamiExtension(path)) return 0;
  // The probe and the input are one open where the system allows it.
  InputFile input;
  const int first = OpenInputWithFirstByte(input, path);
  if (first == -1) {
    PrintToConsole(u"[ERROR] The data file could not be opened\n");
    return -1;
  }
  if (first < 0) return -1;
  const SourceEncoding encoding = EncodingOfFirstByte(first);
  OutputFile output;
  if (!CreateOutputFile(output, OutputPathFor(path))) return -1;

  // The file is read through a window as the conversion goes, never whole.
  const std::int32_t cues = ConvertSamiFrom(
      InputFileSource(input), encoding, CodePageDecoderFor(AnsiCodePageName()), FileSink(output));
  // Closed before the output takes its place, which a link may make this file.
  input.native.reset();
  if (cues < 0) {
    // The file could not be read to its end: no half-made output.
    AbandonOutputFile(output);
    return -1;
  }
  if (!CommitOutputFile(output)) {
    PrintToConsole(u"[ERROR] The output file could not be written\n");
    return -1;
  }
  WideString message = u"[SUCCESS] '";
  message += ShownOnConsole(FindFileName(path));
  message += u"' conversion is complete!!\n";
  PrintToConsole(message);
  return 0;
}
