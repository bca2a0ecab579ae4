#include "support/log_base.h"

LogBase::~LogBase() = default;

LogBase& logOrNull(LogBase* log) {
    // LogNull has no state, so one shared instance serves every thread.
    static LogNull discard;
    return log ? *log : discard;
}
