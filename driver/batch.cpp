#include "driver/batch.h"

#include "driver/banner.h"
#include "driver/directory_mode.h"
#include "driver/file_conversion.h"
#include "platform/code_page.h"
#include "platform/native_path.h"

int RunBatch(int argc, NativeChar** argv) {
  SelectUserLocale();
  PrintBanner();
  // Only a count of exactly 1 (the program's own name) is the directory mode; a
  // count of 0 has no paths and nothing to search.
  if (argc == 1) return RunDirectoryMode();
  for (int i = 1; i < argc; ++i) {
    if (ConvertFile(FromNative(argv[i])) == -1) return -1;
  }
  return 0;
}
