// Holds a file open without sharing for a while, as a program still writing
// it would, so that a test can see what the converter does meanwhile.
//   lumentrace_hold_file FILE MILLISECONDS   prints "held" once it holds FILE
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  const HANDLE file =
      CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  std::printf("held\n");
  std::fflush(stdout);
  Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
  CloseHandle(file);
  return 0;
}
