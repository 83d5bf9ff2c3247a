#include "driver/directory_mode.h"

// Placeholder until the directory search lands: finds nothing.
int RunDirectoryMode() { return 0; }
