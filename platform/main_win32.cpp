#include <windows.h>

#include "driver/batch.h"
#include "platform/console.h"

// Arguments arrive as UTF-16 (linked with -municode), so a file name outside
// the ANSI code page opens all the same. -1 from RunBatch is the exit code
// 0xFFFFFFFF, which Windows reports as -1.
int wmain(int argc, wchar_t** argv) {
  // No "insert a disk" or "cannot open" dialog may stop an unattended run.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  const int status = RunBatch(argc, argv);
  PauseIfConsoleIsOwn();
  return status;
}
