#include "driver/batch.h"

#include <cstring>

#include "convert/file_conversion.h"
#include "driver/banner.h"
#include "driver/directory_mode.h"
#include "text/code_page.h"
#include "text/locale_text.h"

int RunBatch(int argc, char** argv) {
  SelectUserLocale();
  PrintBanner();
  // Only a count of exactly 1 (the program's own name) is the directory mode; a
  // count of 0 has no paths and nothing to search.
  if (argc == 1) return RunDirectoryMode();
  for (int i = 1; i < argc; ++i) {
    if (ConvertFile(WidenFromLocale(argv[i])) == -1) return -1;
  }
  return 0;
}
