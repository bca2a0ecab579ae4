// The summary line bench/run_all reads, one per same-run comparison (the
// shell benchmarks print it through bench/common.sh):
//   RATIO name=ID unit=UNIT better=higher|lower ours=X base=Y ratio=X/Y what=TEXT
#pragma once
#include <cstdio>

inline void ratioLine(const char* id, const char* unit, bool higherIsBetter, double ours, double base,
                      const char* what) {
    std::printf("RATIO name=%s unit=%s better=%s ours=%.6g base=%.6g ratio=%.4f what=%s\n", id, unit,
                higherIsBetter ? "higher" : "lower", ours, base, ours / base, what);
}
