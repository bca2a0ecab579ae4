// A log for command-line programs: every error and data item is printed
// to standard error as it is reported; everything else is dropped.
#pragma once

#include <cstdio>

#include "support/log_base.h"

class StderrLog : public LogNull {
public:
    bool logError(const char* m) override {
        std::fprintf(stderr, "error: %s\n", m ? m : "");
        return true;
    }
    bool logData(const char* n, const char* v) override {
        std::fprintf(stderr, "  %s: %s\n", n ? n : "", v ? v : "");
        return true;
    }
    bool logDataInt(const char* n, uint32_t v) override {
        std::fprintf(stderr, "  %s: %u\n", n ? n : "", v);
        return true;
    }
};
