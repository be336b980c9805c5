// The converter with a chosen decoder: `aifconv_path N input output` converts
// as aifconv does, but decodes with entry N of the lists of decoder paths
// (0 scalar, then the vector ones the CPU has), so that bench/floor.sh can
// time whole runs as on a CPU whose fastest path is that one.
#include <cstdio>
#include <cstdlib>

#include "driver/platform.h"
#include "driver/run.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s <decoder path number> <input AIFC file> <output WAV file>\n", argv[0]);
    return 1;
  }
  aifconv::platform::prepare_process(&argc, &argv);
  aifconv::Hooks hooks;
  hooks.decoder_path = std::atoi(argv[1]);
  argv[1] = argv[0];
  return aifconv::run(3, argv + 1, stderr, hooks);
}
