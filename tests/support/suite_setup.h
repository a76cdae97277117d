// A suite's shared set-up (a global test environment) that fails must fail
// the test program: gtest would report each of its tests as skipped, and the
// test command would count that as a pass.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

inline void RequireForSuite(bool ok, const std::string& what) {
    if (ok) return;
    std::fprintf(stderr, "The suite's set-up failed: %s\n", what.c_str());
    std::fflush(stderr);
    std::_Exit(1);
}
