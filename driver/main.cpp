// aifconv: convert an AIFF-C file ("ima4", "sowt" or "SDX2") to a 16-bit PCM
// WAV file. The whole run lives in the library; this is only its entry point.
#include <cstdio>

#include "driver/run.h"

int main(int argc, char** argv) {
  aifconv::remove_output_on_signal();
  return aifconv::run(argc, argv, stderr);
}
