#include <csignal>

#include "driver/batch.h"

// -1 from RunBatch becomes the exit status 255.
int main(int argc, char** argv) {
  // A write past the file size limit (ulimit -f) then fails like any other
  // write, with the message and nothing lost, instead of killing the program.
  std::signal(SIGXFSZ, SIG_IGN);
  return RunBatch(argc, argv);
}
