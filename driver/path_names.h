// File-name rules for paths held as WideString, with the platform's separators
// ('/' on POSIX systems; '\\', '/' and a drive's ':' on Windows).
#ifndef LUMENTRACE_DRIVER_PATH_NAMES_H_
#define LUMENTRACE_DRIVER_PATH_NAMES_H_

#include "text/wide_string.h"

// What follows the last separator (the whole path when there is none).
WideView FindFileName(WideView path);

// The extension of the path's last component: from its last '.', dot included;
// empty when the name has no '.'. A file named just ".smi" has the extension ".smi".
WideView FindExtension(WideView path);

// True when the extension is ".smi" in any mix of ASCII case. Only ASCII
// letters are folded, so the answer is the same in every locale.
bool HasSamiExtension(WideView path);

// The path up to, not including, its last '.', followed by ".srt".
WideString OutputPathFor(WideView path);

#endif  // LUMENTRACE_DRIVER_PATH_NAMES_H_
