// The run order: the command line, the two files, then the chunk walk, the
// WAV header and the data pass. It uses every subsystem; none uses it.
#pragma once

#include <cstdio>

#include "driver/context.h"

namespace aifconv {

// Run the whole command line: argv[0] is the invocation word, then the input
// AIFF-C path and the output WAV path. Messages go to `err`. Returns the exit
// status, 0 after a complete conversion and 1 after any failure. `hooks`
// replace system services (tests).
int run(int argc, const char* const* argv, std::FILE* err, const Hooks& hooks = Hooks());

}  // namespace aifconv
