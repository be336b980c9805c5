#include "codecs/decoder_paths.h"
