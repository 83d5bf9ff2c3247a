// Micro-benchmarks of the conversion's inner loops: decoding characters,
// reading and parsing sync blocks, the cleaning steps and the cue writer. Bytes are counted as the
// input's bytes, so the figures compare with the whole-program MB/s of bench/run.sh.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "convert/caption_cleanup.h"
#include "convert/srt_output.h"
#include "convert/sync_block.h"
#include "text/text_stream.h"

namespace {

// "지금 어디야?" (Hangul) and English on two lines, as a typical caption block.
const std::string kUtf8Block =
    "<SYNC Start=61000><P Class=KRCC>\xEC\xA7\x80\xEA\xB8\x88 \xEC\x96\xB4\xEB\x94\x94"
    "\xEC\x95\xBC?<br>Where are you <font color=\"#ffff00\">now</font>?\r\n"
    "<SYNC Start=63500><P Class=KRCC>&nbsp;\r\n";

std::string Repeat(const std::string& piece, size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (size_t i = 0; i < times; ++i) out += piece;
  return out;
}

std::string ToUtf16(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

void ReadAllChars(benchmark::State& state, const std::string& bytes, StreamMode mode) {
  for (auto _ : state) {
    TextStream stream;
    OpenTextStreamOverBytes(stream, bytes, mode);
    unsigned sum = 0;
    for (char16_t c = ReadChar(stream); c != kEndOfInput || !AtEndOfFile(stream);
         c = ReadChar(stream)) {
      sum += c;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}

void BM_ReadCharUtf8(benchmark::State& state) {
  ReadAllChars(state, Repeat(kUtf8Block, 10000), StreamMode::AnsiText);
}
BENCHMARK(BM_ReadCharUtf8);

void BM_ReadCharUtf16(benchmark::State& state) {
  ReadAllChars(state, ToUtf16(Repeat("<SYNC Start=1000><P Class=KRCC>Where are you?\r\n", 10000)),
               StreamMode::Utf16Binary);
}
BENCHMARK(BM_ReadCharUtf16);

void BM_ReadSyncBlock(benchmark::State& state) {
  const std::string bytes = Repeat(kUtf8Block, 10000);
  for (auto _ : state) {
    TextStream stream;
    OpenTextStreamOverBytes(stream, bytes, StreamMode::AnsiText);
    size_t total = 0;
    for (;;) {
      const SyncBlock block = ReadSyncBlock(stream);
      if (block.text.empty()) break;
      total += block.text.size();
      // The conversion goes back to the closing tag, which opens the next block.
      if (block.lastTagAt == block.openingTagAt) break;
      MoveTo(stream, block.lastTagAt);
    }
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_ReadSyncBlock);

WideString TypicalBlock() {
  return u"<sync start=61000><p class=krcc>\uC9C0\uAE08 \uC5B4\uB514\uC57C?<br>Where are you "
         u"<font color=\"#ffff00\">now</font>?<sync start=63500>";
}

void BM_ParseSyncBlock(benchmark::State& state) {
  const WideString block = TypicalBlock();
  for (auto _ : state) {
    CueTimes times;
    WideString caption;
    benchmark::DoNotOptimize(ParseSyncBlock(block, times, caption));
    benchmark::DoNotOptimize(caption.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_ParseSyncBlock);

// The cleaning steps over one long caption, to show their cost per character.
void BM_Cleaning(benchmark::State& state) {
  WideString text;
  for (int i = 0; i < 10000; ++i) text += u"Where are <i>you</i> &nbsp;now?<br> ";
  for (auto _ : state) {
    WideString caption = text;
    ReplaceBreakTag(caption, u"<br>");
    ReplaceBreakTag(caption, u"</br>");
    ReplaceBreakTag(caption, u"<br/>");
    StripMarkup(caption);
    TidyLines(caption);
    benchmark::DoNotOptimize(caption.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_Cleaning);

// One cue a step, encoded into the writer's buffer, which goes to a sink
// that drops it.
void BM_WriteCue(benchmark::State& state) {
  SrtSink sink;
  sink.write = [](void*, const char* bytes, size_t) { benchmark::DoNotOptimize(bytes); };
  sink.restart = [](void*) {};
  SrtWriter writer;
  StartSrt(writer, sink, static_cast<SrtEncoding>(state.range(0)));
  const WideString caption = u"\uC9C0\uAE08 \uC5B4\uB514\uC57C?\nWhere are you now?";
  std::int32_t ms = 0;
  for (auto _ : state) {
    WriteCue(writer, ms, ms + 2500, caption);
    ms = ms < 2000000000 ? ms + 1234567 : 0;
  }
  FinishSrt(writer);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_WriteCue)
    ->Arg(static_cast<int>(SrtEncoding::kUtf16Le))
    ->Arg(static_cast<int>(SrtEncoding::kUtf8));

}  // namespace

BENCHMARK_MAIN();
