#include "support/log_base.h"

#include "support/platform.h"
#include "support/string_buffer.h"

LogBase::~LogBase() = default;

LogBase& logOrNull(LogBase* log) {
    // LogNull has no state, so one shared instance serves every thread.
    static LogNull discard;
    return log ? *log : discard;
}

void logSystemError(LogBase& log, uint32_t code) {
    StringBuffer text;
    text.appendSystemError(code);
    log.logError(text.str());
}

void logPathAndCwd(LogBase& log, const char* path) {
    log.logData("filename", path);
    char cwd[1200];
    if (platform::currentDirectory(cwd, sizeof cwd) == 0) cwd[0] = 0;
    log.logData("current_dir", cwd);
}
