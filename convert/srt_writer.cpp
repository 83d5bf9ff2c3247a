#include "convert/srt_writer.h"

void WriteCue(TextStream& output, CueCounter& counter, WideView timeLine, WideView caption) {
  // The separating empty line goes before every cue but the first, so the file
  // never ends in a line break.
  WideString head = counter.first ? WideString() : WideString(u"\n\n");
  head += FormatDecimal(counter.next);
  head += u'\n';
  head += timeLine;
  head += u'\n';
  WriteText(output, head);
  WriteText(output, caption);
  if (counter.next < INT32_MAX) ++counter.next;
  counter.first = false;
}
