#include "convert/sync_block.h"

#include <cstdint>

#include "convert/caption_cleanup.h"

SyncBlock ReadSyncBlock(TextStream& input) {
  SyncBlock block;
  bool opened = false;
  // Room for a typical block and its tags, so that it rarely grows.
  constexpr size_t kTypicalBlock = 256;
  block.text.reserve(kTypicalBlock);
  for (;;) {
    // Plain text in bulk (kept only once the block is open), the rest one by one.
    ReadTextRun(input, opened ? &block.text : nullptr);
    const size_t at = Position(input);
    const char16_t c = ReadCharInline(input);
    if (c == kEndOfInput) break;
    if (c != u'<') {
      // Line breaks of the source never reach a caption: words on either side join.
      if (opened && c != u'\n' && c != u'\r') block.text.push_back(c);
      continue;
    }
    // The tag is collected at the end of the block, and taken back off when it
    // is not to be kept.
    const size_t tagStart = block.text.size();
    block.text.push_back(u'<');
    size_t lastLessThan = at;
    bool closed = false;
    for (;;) {
      const size_t runStart = block.text.size();
      ReadTagRun(input, block.text);
      for (size_t k = runStart; k < block.text.size(); ++k)
        block.text[k] = ToLowerUnitInline(block.text[k]);
      const size_t inside = Position(input);
      const char16_t t = ReadCharInline(input);
      if (t == kEndOfInput) break;
      if (t == u'<') lastLessThan = inside;
      block.text.push_back(ToLowerUnitInline(t));
      if (t == u'>') {
        closed = true;
        break;
      }
    }
    if (!closed) {  // cut off by the end of the input: dropped
      block.text.resize(tagStart);
      break;
    }
    const WideView tag = WideView(block.text).substr(tagStart);
    if (IsSyncTag(tag)) {
      block.lastTagAt = lastLessThan;
      if (opened) break;  // the closing tag, which also opens the next block
      opened = true;
      block.openingTagAt = at;
    } else if (opened) {
      block.lastTagAt = lastLessThan;
    } else {
      block.text.resize(tagStart);
    }
  }
  Trim(block.text);
  return block;
}

std::int64_t ParseSyncBlock(WideView block, CueTimes& times, WideString& caption) {
  if (block.empty()) return -1;
  const size_t firstClose = block.find(u'>');
  std::int32_t start = 0;
  if (!ScanSyncTime(block.substr(0, firstClose == WideView::npos ? 0 : firstClose), start))
    start = 0;

  const size_t lastOpen = block.rfind(u'<');
  const size_t tailStart = lastOpen == WideView::npos ? 0 : lastOpen;
  std::int32_t end = start;
  if (!ScanSyncTime(block.substr(tailStart), end)) end = start;

  caption.assign(block);
  ReplaceBreakTags(caption);
  StripMarkup(caption);
  TidyLines(caption);
  times = {start, end};
  // Without any '<' the length counts from one before the start, as a search
  // that found nothing (-1) would have it.
  if (lastOpen == WideView::npos) return static_cast<std::int64_t>(block.size()) + 1;
  return static_cast<std::int64_t>(block.size() - tailStart);
}
