#include "support/logger.h"

#include <new>
#include <string>

#include "support/activity_log.h"
#include "support/platform.h"
#include "support/string_buffer.h"

const char kXmlLogDeclaration[] = "<?xml version=\"1.0\"  encoding=\"utf-8\" standalone=\"yes\" ?>\n";
const char kXmlLogEmptyBody[] = "<VarnockLog>The log is empty</VarnockLog>";

namespace {

bool isEmptyText(const char* text) { return !text || !*text; }

// The saved file is text-mode output: every LF is stored as CR LF. Done
// here rather than by the C runtime so every platform writes the same bytes.
std::string withCrLf(const char* text, size_t n) {
    std::string out;
    out.reserve(n + n / 16 + 16);
    for (size_t i = 0; i < n; i++) {
        if (text[i] == '\n') out.push_back('\r');
        out.push_back(text[i]);
    }
    return out;
}

bool writeAll(platform::FileHandle h, const std::string& bytes) {
    if (bytes.size() > UINT32_MAX) return false;
    uint32_t written = 0;
    return platform::writeFile(h, bytes.data(), uint32_t(bytes.size()), &written) && written == bytes.size();
}

}  // namespace

Logger::Logger() : log_(new (std::nothrow) ActivityLog()) {}

Logger::~Logger() { delete log_; }

bool Logger::getXmlText(StringBuffer& out) {
    if (!log_) return false;
    log_->renderXml(out, false, false);
    return true;
}

bool Logger::getHtmlText(StringBuffer& out) {
    if (!log_) return false;
    log_->renderText(out, true);
    return true;
}

bool Logger::getPlainText(StringBuffer& out) {
    if (!log_) return false;
    log_->renderText(out, false);
    return true;
}

bool Logger::logError(const char* message) {
    if (!log_) return false;
    hadError_ = true;
    if (isEmptyText(message)) return false;
    log_->addMessage(LogEntry::Error, message);
    return true;
}

bool Logger::logInfo(const char* message) {
    if (!log_ || isEmptyText(message)) return false;
    log_->addMessage(LogEntry::Info, message);
    return true;
}

bool Logger::logDebug(const char* message) {
    if (!log_ || isEmptyText(message)) return false;
    log_->addMessage(LogEntry::Debug, message);
    return true;
}

bool Logger::logXml(const char* fragment) {
    if (!log_) return false;
    return log_->addData("__xml__", fragment);
}

bool Logger::reset() {
    if (!log_) return false;
    log_->deleteAll();
    hadError_ = false;
    return true;
}

bool Logger::enterContext(const char* name, bool verbose) {
    if (!log_ || isEmptyText(name)) return false;
    log_->enterContext(name, verbose);
    return true;
}

bool Logger::leaveContext() {
    if (!log_) return false;
    log_->leaveContext();
    return true;
}

bool Logger::logData(const char* name, const char* value) {
    if (!log_ || !name) return false;
    return log_->addData(name, value);
}

bool Logger::logDataInt(const char* name, uint32_t value) {
    if (!log_ || !name) return false;
    StringBuffer text("");
    text.appendInt(int32_t(value));  // signed decimal, as the log has always shown it
    return log_->addData(name, text.str());
}

bool Logger::clear() {
    if (!log_) return false;
    log_->deleteAll();
    return true;
}

bool Logger::getErrorText(StringBuffer& out) {
    if (!log_) return false;
    out.appendBuffer(log_->errorText());
    return true;
}

bool Logger::saveXml(bool includeDates, const char* path) {
    if (!log_ || isEmptyText(path)) return false;
    platform::FileHandle h = platform::openFile(path, platform::OpenMode::CreateAlways);
    if (h == platform::kInvalidFile) return false;
    bool ok = false;
    try {
        StringBuffer content(kXmlLogDeclaration);
        StringBuffer body;
        log_->renderXml(body, includeDates, false);
        if (body.isEmpty()) content.append(kXmlLogEmptyBody);
        else content.appendBuffer(body);

        // The declaration promises UTF-8; the log holds ANSI text.
        int need = platform::ansiToUtf8(content.str(), int(content.length()), nullptr, 0);
        if (need > 0) {
            std::string utf8(size_t(need), '\0');
            if (platform::ansiToUtf8(content.str(), int(content.length()), &utf8[0], need) == need)
                ok = writeAll(h, withCrLf(utf8.data(), utf8.size()));
        }
    } catch (...) {
        platform::closeFile(h);
        h = platform::openFile(path, platform::OpenMode::CreateAlways);
        if (h != platform::kInvalidFile) {
            writeAll(h, "Unexpected exception while saving XML log");
            platform::closeFile(h);
        }
        return false;
    }
    platform::closeFile(h);
    return ok;
}

bool Logger::hadError() { return log_ && hadError_; }
