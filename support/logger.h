// Logger: the recording log every builder call reports into. It keeps the
// entries in an ActivityLog and renders them as XML (saveXml writes the
// log file) or as plain or HTML-like text.
#pragma once

#include <cstdint>

#include "support/log_base.h"

class ActivityLog;

class Logger : public LogBase {
public:
    Logger();
    ~Logger() override;
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    bool getXmlText(StringBuffer& out) override;
    bool getHtmlText(StringBuffer& out) override;
    bool getPlainText(StringBuffer& out) override;
    bool logError(const char* message) override;
    bool logInfo(const char* message) override;
    bool logDebug(const char* message) override;
    bool logXml(const char* fragment) override;
    bool reset() override;
    bool enterContext(const char* name, bool verbose) override;
    bool leaveContext() override;
    bool logData(const char* name, const char* value) override;
    bool logDataInt(const char* name, uint32_t value) override;
    bool clear() override;
    bool getErrorText(StringBuffer& out) override;
    bool saveXml(bool includeDates, const char* path) override;
    bool hadError() override;

    // The entries, for callers that render or inspect them directly; null
    // when the log could not be created.
    ActivityLog* activityLog() const { return log_; }

private:
    ActivityLog* log_;
    bool hadError_ = false;
};

// The XML declaration that starts every saved log (57 characters + LF).
extern const char kXmlLogDeclaration[];
// The body of a saved log that has no entries.
extern const char kXmlLogEmptyBody[];
