// The engine's log context for the length of one operation (inside the
// engine only).
#pragma once

#include "support/logger.h"

class LogContext {
public:
    LogContext(Logger& log, const char* name) : log_(log) { log_.enterContext(name, true); }
    ~LogContext() { log_.leaveContext(); }
    LogContext(const LogContext&) = delete;
    LogContext& operator=(const LogContext&) = delete;

private:
    Logger& log_;
};
