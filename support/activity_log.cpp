#include "support/activity_log.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr char kXmlItemName[] = "__xml__";
constexpr char kCdataOpen[] = "<![CDATA[";
constexpr char kCdataClose[] = "]]>";

bool isEmptyText(const char* text) { return !text || !*text; }

// Appends text for the inside of a CDATA section. A "]]>" in the text
// would end the section early, so it is split across two sections:
// "]]" closes with "]]]]>", and the ">" starts the next one.
void appendCdataContent(StringBuffer& out, const StringBuffer& text) {
    const char* s = text.str();
    const char* hit;
    while ((hit = std::strstr(s, kCdataClose)) != nullptr) {
        out.appendBytes(s, int(hit - s));
        out.append("]]]]><![CDATA[>");
        s = hit + 3;
    }
    out.append(s);
}

void appendEscaped(StringBuffer& out, const StringBuffer& text) {
    StringBuffer escaped(text.str());
    escaped.escapeXml();
    out.appendBuffer(escaped);
}

const char* levelTag(LogEntry::Level level) {
    switch (level) {
        case LogEntry::Error: return "error";
        case LogEntry::Debug: return "debug";
        default: return "info";
    }
}

}  // namespace

bool xmlTextNeedsCdata(const char* text) {
    if (!text) return false;
    if (std::strstr(text, kCdataOpen) && std::strstr(text, kCdataClose)) return false;
    return std::strpbrk(text, "\n\t&><") != nullptr;
}

// ---- LogEntry --------------------------------------------------------------

LogEntry::LogEntry(Kind k, Level l, const char* t, const char* n)
    : timestamp(platform::localTime()),
      kind(k),
      level(l),
      text(t ? new StringBuffer(t) : nullptr),
      name(n ? new StringBuffer(n) : nullptr) {}

LogEntry::~LogEntry() {
    delete text;
    delete name;
}

// ---- ActivityLog -----------------------------------------------------------

ActivityLog::~ActivityLog() { entries_.deleteAll(); }

void ActivityLog::deleteAll() { entries_.deleteAll(); }

void ActivityLog::addMessage(LogEntry::Level level, const char* message) {
    if (isEmptyText(message)) return;
    StringBuffer whole(message);
    ExtPtrArray pieces;
    whole.split("\r\n", pieces);
    bool first = true;
    for (int i = 0; i < pieces.count(); i++) {
        auto* piece = pieces.at<StringBuffer>(i);
        if (piece->isEmpty()) continue;
        LogEntry* e;
        if (first) {
            e = new LogEntry(LogEntry::Message, level, piece->str(), nullptr);
        } else {
            StringBuffer line(continuationPrefix_.str());
            line.appendBuffer(*piece);
            e = new LogEntry(LogEntry::Message, level, line.str(), nullptr);
            e->continuation = true;
        }
        entries_.append(e);
        first = false;
    }
    pieces.deleteAll();
    if (level == LogEntry::Error) errorSinceCapture_ = true;
}

bool ActivityLog::addData(const char* name, const char* value) {
    StringBuffer cleanName(name);
    cleanName.trim();
    if (cleanName.isEmpty()) return false;
    cleanName.replaceAll(" ", "_");
    entries_.append(new LogEntry(LogEntry::Data, LogEntry::NoLevel, value ? value : "", cleanName.str()));
    return true;
}

void ActivityLog::enterContext(const char* name, bool verbose) {
    auto* e = new LogEntry(LogEntry::ContextStart, LogEntry::NoLevel, name, nullptr);
    e->verbose = verbose;
    entries_.append(e);
}

void ActivityLog::leaveContext() {
    errorText_.clear();
    int n = entries_.count();
    if (n == 0) return;
    if (entry(n - 1)->kind == LogEntry::ContextStart) {
        // Nothing was logged inside: the context leaves no trace.
        delete entries_.pop();
        return;
    }
    entries_.append(new LogEntry(LogEntry::ContextEnd, LogEntry::NoLevel, nullptr, nullptr));
    if (!errorSinceCapture_) return;

    // Find the start of the context just closed.
    int depth = 1;
    int start = -1;
    for (int j = n - 1; j >= 0; j--) {
        LogEntry::Kind k = entry(j)->kind;
        if (k == LogEntry::ContextEnd) {
            depth++;
        } else if (k == LogEntry::ContextStart && --depth == 0) {
            start = j;
            break;
        }
    }
    // A non-verbose context keeps the error pending for an enclosing one.
    if (start >= 0 && entry(start)->verbose) {
        rebuildErrorText(start);
        errorSinceCapture_ = false;
    }
}

void ActivityLog::rebuildErrorText(int startIndex) {
    errorText_.clear();
    bool first = true;
    auto separate = [&] {
        if (!first) errorText_.appendChar('\n');
        first = false;
    };
    for (int i = startIndex; i < entries_.count(); i++) {
        const LogEntry* e = entry(i);
        switch (e->kind) {
            case LogEntry::ContextStart:
                separate();
                errorText_.appendChar('(');
                errorText_.appendBuffer(*e->text);
                errorText_.appendChar(')');
                break;
            case LogEntry::Data:
                if (e->name->equals(kXmlItemName)) break;
                separate();
                errorText_.appendBuffer(*e->name);
                errorText_.append(": ");
                errorText_.appendBuffer(*e->text);
                break;
            case LogEntry::Message:
                if (e->level != LogEntry::Error) break;
                separate();
                if (e->continuation) errorText_.append("    ");
                errorText_.appendBuffer(*e->text);
                break;
            default:
                break;
        }
    }
}

void ActivityLog::renderXml(StringBuffer& out, bool includeDates, bool crlf) const {
    const int n = entries_.count();
    if (n == 0) return;
    const char* eol = crlf ? "\r\n" : "\n";
    out.append("<VarnockLog>");
    out.append(eol);
    StringBuffer indent("");
    std::vector<const LogEntry*> open;

    for (int i = 0; i < n; i++) {
        const LogEntry* e = entry(i);
        switch (e->kind) {
            case LogEntry::ContextStart:
                open.push_back(e);
                out.appendBuffer(indent);
                out.appendChar('<');
                out.appendBuffer(*e->text);
                out.appendChar('>');
                out.append(eol);
                indent.append("    ");
                break;

            case LogEntry::ContextEnd: {
                if (open.empty()) break;  // an end without a start
                const LogEntry* start = open.back();
                open.pop_back();
                indent.removeLast(4);
                out.appendBuffer(indent);
                out.append("</");
                out.appendBuffer(*start->text);
                out.appendChar('>');
                out.append(eol);
                break;
            }

            case LogEntry::Data:
                if (e->name->equals(kXmlItemName)) {
                    out.appendBuffer(*e->text);  // a fragment the caller built
                    out.append(eol);
                    break;
                }
                out.appendBuffer(indent);
                out.appendChar('<');
                out.appendBuffer(*e->name);
                out.appendChar('>');
                if (xmlTextNeedsCdata(e->text->str())) {
                    out.append(kCdataOpen);
                    appendCdataContent(out, *e->text);
                    out.append(kCdataClose);
                } else {
                    appendEscaped(out, *e->text);
                }
                out.append("</");
                out.appendBuffer(*e->name);
                out.appendChar('>');
                out.append(eol);
                break;

            case LogEntry::Message: {
                // The message and the continuation lines right after it.
                int last = i;
                while (last + 1 < n && entry(last + 1)->kind == LogEntry::Message && entry(last + 1)->continuation)
                    last++;
                const char* tag = levelTag(e->level);
                out.appendBuffer(indent);
                out.appendChar('<');
                out.append(tag);
                if (includeDates) {
                    const platform::LocalTime& t = e->timestamp;
                    char date[64];
                    std::snprintf(date, sizeof date, "%02d/%02d/%04d %02d:%02d:%02d", t.month, t.day, t.year, t.hour,
                                  t.minute, t.second);
                    out.append(" date=\"");
                    out.append(date);
                    out.appendChar('"');
                }
                out.appendChar('>');
                bool cdata = last > i || xmlTextNeedsCdata(e->text->str());
                if (cdata) {
                    out.append(kCdataOpen);
                    for (int j = i; j <= last; j++) {
                        if (j > i) out.append(eol);
                        appendCdataContent(out, *entry(j)->text);
                    }
                    out.append(kCdataClose);
                } else {
                    // Written as is, unless it holds markup characters (only
                    // a text with both CDATA markers can): then escaped, so
                    // the document stays well-formed.
                    appendEscaped(out, *e->text);
                }
                out.append("</");
                out.append(tag);
                out.appendChar('>');
                out.append(eol);
                i = last;
                break;
            }
        }
    }
    // Contexts never left are closed here, without indentation.
    for (auto it = open.rbegin(); it != open.rend(); ++it) {
        out.append("</");
        out.appendBuffer(*(*it)->text);
        out.appendChar('>');
        out.append(eol);
    }
    out.append("</VarnockLog>");
    out.append(eol);
}

void ActivityLog::appendTemplated(StringBuffer& out, const char* text) {
    StringBuffer line(text);
    if (html_) line.escapeXmlAttr();
    StringBuffer filled(template_.str());
    filled.replaceAll("_MESSAGE_", line.str());
    out.appendBuffer(filled);
}

void ActivityLog::renderText(StringBuffer& out, bool html) {
    html_ = html;
    template_.assign(html ? "_MESSAGE_<br>" : "_MESSAGE_\r\n");
    for (int i = 0; i < entries_.count(); i++) {
        const LogEntry* e = entry(i);
        if (e->kind == LogEntry::Message && (e->level == LogEntry::Error || e->level == LogEntry::Info)) {
            appendTemplated(out, e->text->str());
        } else if (e->kind == LogEntry::Data) {
            StringBuffer item(e->name->str());
            item.append(": ");
            item.appendBuffer(*e->text);
            appendTemplated(out, item.str());
        }
    }
}
