#include "driver/batch.h"

// -1 from RunBatch becomes the exit status 255.
int main(int argc, char** argv) {
  return RunBatch(argc, argv);
}
