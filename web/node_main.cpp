// The converter as a command-line program under Node (NODERAWFS: the real
// file system), for comparing this host's output with every other host's.
// No signal handling: Node owns its process.
#include <cstdio>

#include "driver/run.h"

int main(int argc, char** argv) {
  const int status = aifconv::run(argc, argv, stderr);
  std::fflush(stderr);
  return status;
}
