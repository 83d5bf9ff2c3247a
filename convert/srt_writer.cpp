#include "convert/srt_writer.h"

void WriteCue(TextStream& output, CueCounter& counter, WideView timeLine, WideView caption) {
  // The separating empty line goes before every cue but the first, so the file
  // never ends in a line break.
  WideString head;
  constexpr size_t kTypicalHead = 48;  // "\n\n", the number, the time line, "\n"
  head.reserve(kTypicalHead);
  if (!counter.first) head += u"\n\n";
  head += FormatDecimal(counter.next);
  head += u'\n';
  head += timeLine;
  head += u'\n';
  WriteText(output, head);
  WriteText(output, caption);
  if (counter.next < INT32_MAX) ++counter.next;
  counter.first = false;
}
