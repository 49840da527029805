// How the benchmark programs print a goal beside its measured figure, one line
// each, so that bench/run can gather them into its closing table:
//   goal: <what> | <measured> | <op> <target> | met|MISSED
#pragma once

#include <cstdio>
#include <string>

namespace tollbook::bench {

inline void Goal(const std::string& what, double measured, const char* unit, const char* op,
                 double target) {
  const bool met = std::string(op) == "<=" ? measured <= target : measured >= target;
  std::printf("goal: %s | %.2f%s | %s %.2f%s | %s\n", what.c_str(), measured, unit, op, target,
              unit, met ? "met" : "MISSED");
}

}  // namespace tollbook::bench
