// What a lab case needs from the VM it runs in: the environment the lab's
// group scripts (tests/lab/groups/) set. Outside the lab every case skips.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace quorlink::testing::lab {

// The value of a variable the group script sets, or "" when unset.
inline std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Skips the case unless its group's script has set `variable` up.
#define LAB_REQUIRE(variable)                                                           \
  do {                                                                                  \
    if (::quorlink::testing::lab::Env(variable).empty())                                \
      GTEST_SKIP() << "runs only in the device lab (ctest -L lab): " variable " unset"; \
  } while (0)

}  // namespace quorlink::testing::lab
