// aifconv: convert an AIFF-C file ("ima4", "sowt" or "SDX2") to a 16-bit PCM
// WAV file. The whole run lives in the library; this is only its entry point.
#include <cstdio>

#include "driver/platform.h"
#include "driver/run.h"

int main(int argc, char** argv) {
  aifconv::platform::prepare_process(&argc, &argv);
  return aifconv::run(argc, argv, stderr);
}
