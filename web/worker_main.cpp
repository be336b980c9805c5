// The converter inside the page's worker: one conversion between two paths of
// the worker's file system (pagefs.js), its messages on standard error, which
// the worker collects line by line.
#include <cstdio>

#include "driver/run.h"

extern "C" int aifconv_convert(const char* input, const char* output) {
  const char* argv[] = {"aifconv", input, output, nullptr};
  const int status = aifconv::run(3, argv, stderr);
  std::fflush(stderr);
  return status;
}
