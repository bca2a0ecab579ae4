// LogBase: the log interface every builder and stub operation takes as its
// last argument, and LogNull, the log that discards everything. The
// recording log lives elsewhere; this header is all the lower layers need.
#pragma once

#include <cstdint>

class StringBuffer;

class LogBase {
public:
    virtual ~LogBase();
    virtual bool getXmlText(StringBuffer& out) = 0;
    virtual bool getHtmlText(StringBuffer& out) = 0;
    virtual bool getPlainText(StringBuffer& out) = 0;
    virtual bool logError(const char* message) = 0;
    virtual bool logInfo(const char* message) = 0;
    virtual bool logDebug(const char* message) = 0;
    virtual bool logXml(const char* fragment) = 0;
    virtual bool reset() = 0;
    virtual bool enterContext(const char* name, bool verbose) = 0;
    virtual bool leaveContext() = 0;
    virtual bool logData(const char* name, const char* value) = 0;
    virtual bool logDataInt(const char* name, uint32_t value) = 0;
    virtual bool clear() = 0;
    virtual bool getErrorText(StringBuffer& out) = 0;
    virtual bool saveXml(bool includeDates, const char* path) = 0;
    virtual bool hadError() = 0;
};

class LogNull : public LogBase {
public:
    bool getXmlText(StringBuffer&) override { return true; }
    bool getHtmlText(StringBuffer&) override { return true; }
    bool getPlainText(StringBuffer&) override { return true; }
    bool logError(const char*) override { return true; }
    bool logInfo(const char*) override { return true; }
    bool logDebug(const char*) override { return true; }
    bool logXml(const char*) override { return true; }
    bool reset() override { return true; }
    bool enterContext(const char*, bool) override { return true; }
    bool leaveContext() override { return true; }
    bool logData(const char*, const char*) override { return true; }
    bool logDataInt(const char*, uint32_t) override { return true; }
    bool clear() override { return true; }
    bool getErrorText(StringBuffer&) override { return true; }
    bool saveXml(bool, const char*) override { return true; }
    bool hadError() override { return false; }
};

// Operations accept a null log; they report into this one instead.
LogBase& logOrNull(LogBase* log);

// The entries of a failed file operation: the system's message text for
// the error code (an error entry), and the file with the process's current
// folder (data items "filename" and "current_dir").
void logSystemError(LogBase& log, uint32_t code);
void logPathAndCwd(LogBase& log, const char* path);
