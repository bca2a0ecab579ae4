// The recording side of the log: LogEntry (one record) and ActivityLog (the
// ordered entries, the error text of the last failed verbose context, and
// the XML and text renderings). Logger wraps an ActivityLog behind LogBase.
#pragma once

#include <cstdint>

#include "support/ext_ptr_array.h"
#include "support/platform.h"
#include "support/string_buffer.h"
#include "support/varnock_object.h"

// One record. Entries live in an ExtPtrArray, hence the VarnockObject base.
class LogEntry : public VarnockObject {
public:
    enum Kind : char { Message = 'M', ContextStart = 'C', ContextEnd = 'E', Data = 'D' };
    enum Level : char { Error = 'E', Info = 'I', Debug = 'D', NoLevel = '0' };

    // text and name may be null (a context end has no text, only data items
    // have a name).
    LogEntry(Kind kind, Level level, const char* text, const char* name);
    ~LogEntry() override;
    LogEntry(const LogEntry&) = delete;
    LogEntry& operator=(const LogEntry&) = delete;

    platform::LocalTime timestamp;
    Kind kind;
    Level level;
    StringBuffer* text;  // owned; null for a context end
    StringBuffer* name;  // owned; data items only
    bool continuation = false;
    bool verbose = false;
};

class ActivityLog {
public:
    ActivityLog() = default;
    ~ActivityLog();
    ActivityLog(const ActivityLog&) = delete;
    ActivityLog& operator=(const ActivityLog&) = delete;

    // Splits at CR and LF; empty pieces are dropped; later lines carry the
    // continuation prefix. An empty message (or one of only CR/LF) adds
    // nothing.
    void addMessage(LogEntry::Level level, const char* message);
    // False when the name is empty after trimming.
    bool addData(const char* name, const char* value);
    void enterContext(const char* name, bool verbose);
    void leaveContext();
    void deleteAll();

    // Appends the XML rendering (nothing at all for an empty log).
    void renderXml(StringBuffer& out, bool includeDates, bool crlf) const;
    // Switch the text template to plain ("_MESSAGE_\r\n") or HTML-like
    // ("_MESSAGE_<br>") and append the rendering.
    void renderText(StringBuffer& out, bool html);

    const StringBuffer& errorText() const { return errorText_; }
    int count() const { return entries_.count(); }
    LogEntry* entry(int index) const { return entries_.at<LogEntry>(index); }
    // Appends an entry that the caller built (its timestamp is kept); the
    // log takes ownership.
    void appendEntry(LogEntry* entry) { entries_.append(entry); }

private:
    void rebuildErrorText(int startIndex);
    void appendTemplated(StringBuffer& out, const char* text);

    ExtPtrArray entries_;
    StringBuffer continuationPrefix_{"  "};
    StringBuffer template_{"_MESSAGE_\r\n"};
    bool html_ = false;
    StringBuffer errorText_;
    bool errorSinceCapture_ = false;
};

// "Needs CDATA": false when the text holds both "<![CDATA[" and "]]>";
// otherwise true when it holds LF, TAB, "&", ">" or "<".
bool xmlTextNeedsCdata(const char* text);
