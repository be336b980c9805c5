// One row of a table of whole-file tests: an input and what converting it
// must give, checked on everything a user sees.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/aifc_builder.h"

namespace aifc_test {

struct Case {
  const char* name;
  Bytes input;
  int status;
  std::string err;
  Bytes output;  // expected output on status 0
};

inline void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

// The exact messages and status, an output exactly when the status is 0,
// and then its exact bytes.
inline void expect_result(const Result& r, const Case& c) {
  EXPECT_EQ(r.err, c.err);
  EXPECT_EQ(r.status, c.status);
  EXPECT_EQ(r.output_exists, c.status == 0);
  if (c.status == 0) {
    EXPECT_EQ(r.output, c.output);
  }
}

// One row of a codec's table: the sound data of a whole file and exactly the
// samples it decodes to.
struct CodecCase {
  const char* name;
  std::uint16_t channels;
  Bytes data;
  std::vector<int> samples;
};

inline void PrintTo(const CodecCase& c, std::ostream* os) { *os << c.name; }

// A file of encoding `type` holding the row's data converts without a
// message to exactly the row's samples.
inline void expect_decodes(const std::string& type, std::size_t samples_per_frame, const CodecCase& c) {
  const auto frames = static_cast<std::uint32_t>(c.samples.size() / c.channels / samples_per_frame);
  const Bytes wav = cat({wav_header(c.channels, 8000, static_cast<std::uint32_t>(2 * c.samples.size())), pcm(c.samples)});
  expect_result(convert(aifc(c.channels, frames, type, c.data)), {c.name, {}, 0, "", wav});
}

namespace {
// A row of a test file's own table (in its unnamed namespace, which is this
// one) prints as its name where a test reports it.
template <typename Row>
auto operator<<(std::ostream& os, const Row& row) -> decltype(os << row.name) {
  return os << row.name;
}
}  // namespace

// Test names of a table of rows: each row's name.
struct CaseName {
  template <typename Info>
  std::string operator()(const Info& info) const {
    return info.param.name;
  }
};

}  // namespace aifc_test
