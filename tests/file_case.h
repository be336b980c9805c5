// One row of a table of whole-file tests: an input and what converting it
// must give, checked on everything a user sees.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>

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

// Test names of a table of cases.
struct CaseName {
  template <typename Info>
  std::string operator()(const Info& info) const {
    return info.param.name;
  }
};

}  // namespace aifc_test
