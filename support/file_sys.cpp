#include "support/file_sys.h"

#include <cstring>

#include "support/log_base.h"
#include "support/string_buffer.h"

namespace {
// Candidate k of the unique-name sequence: directory + name for k == 1,
// directory + base + "_" + k + extension after that.
struct UniqueName {
    StringBuffer dir, base, ext;

    UniqueName(const char* directory, const char* fileName) {
        dir.append(directory);
        char last = dir.lastChar();
        if (last != '/' && last != '\\') dir.append("/");
        StringBuffer name(fileName);
        if (!std::strchr(name.str(), '.')) name.append(".tmp");
        const char* dot = std::strrchr(name.str(), '.');
        base.appendBytes(name.str(), int(dot - name.str()));
        ext.append(dot);
    }

    void candidate(uint32_t k, StringBuffer& out) const {
        out.clear();
        out.appendBuffer(dir);
        out.appendBuffer(base);
        if (k > 1) {
            out.append("_");
            out.appendInt(int32_t(k));
        }
        out.appendBuffer(ext);
    }
};

// Attempts to pick a fresh name before giving up; far more than any real
// temporary folder holds under one base name.
constexpr uint32_t kMaxUniqueTries = 1000000;
}  // namespace

namespace FileSys {

bool fileExists(const char* path, LogBase* logp) {
    LogBase& log = logOrNull(logp);
    platform::FileHandle h = platform::openFile(path, platform::OpenMode::ReadExisting);
    if (h == platform::kInvalidFile) {
        logSystemError(log, platform::lastError());
        return false;
    }
    platform::closeFile(h);
    return true;
}

uint32_t getFileSize(const char* path, LogBase* logp, bool* ok) {
    LogBase& log = logOrNull(logp);
    *ok = false;
    platform::FileHandle h = platform::openFile(path, platform::OpenMode::ReadExisting);
    if (h == platform::kInvalidFile) {
        logSystemError(log, platform::lastError());
        log.logData("filename", path);
        log.logError("Failed to open file");
        return 0;
    }
    uint64_t size = 0;
    if (!platform::fileSize(h, &size) || size > UINT32_MAX) {
        if (size > UINT32_MAX) log.logError("File is larger than 4 GiB");
        else logSystemError(log, platform::lastError());
        log.logData("filename", path);
        log.logError("Failed to get file size");
        platform::closeFile(h);
        return 0;
    }
    platform::closeFile(h);
    *ok = true;
    return uint32_t(size);
}

static bool writeAll(platform::FileHandle h, const char* path, const void* data, uint32_t length, LogBase& log) {
    if (data && length) {
        uint32_t written = 0;
        if (!platform::writeFile(h, data, length, &written) || written < length) {
            uint32_t code = platform::lastError();
            log.logData("filename", path);
            logSystemError(log, code);
            log.logError("Failed to write complete file (1)");
            return false;
        }
    }
    return true;
}

bool writeFile(const char* path, const void* data, uint32_t length, LogBase* logp) {
    LogBase& log = logOrNull(logp);
    if (!path || !*path) return false;
    platform::FileHandle h = platform::openFile(path, platform::OpenMode::CreateAlways);
    if (h == platform::kInvalidFile) {
        uint32_t code = platform::lastError();
        log.logData("filename", path);
        logSystemError(log, code);
        log.logError("Failed to open/create file for writing");
        return false;
    }
    bool ok = writeAll(h, path, data, length, log);
    platform::closeFile(h);
    return ok;
}

void makeUniquePath(const char* directory, const char* fileName, StringBuffer& out) {
    UniqueName names(directory, fileName);
    for (uint32_t k = 1;; k++) {
        names.candidate(k, out);
        if (!fileExists(out.str(), nullptr)) return;
    }
}

platform::FileHandle createUniqueFile(const char* directory, const char* fileName, StringBuffer& outPath,
                                      LogBase* logp) {
    LogBase& log = logOrNull(logp);
    UniqueName names(directory, fileName);
    for (uint32_t k = 1; k <= kMaxUniqueTries; k++) {
        names.candidate(k, outPath);
        platform::FileHandle h = platform::openFile(outPath.str(), platform::OpenMode::CreateNew);
        if (h != platform::kInvalidFile) return h;
        uint32_t code = platform::lastError();
        // Another file (or another process that was quicker) holds the
        // name: go on with the next one. Anything else is a real failure.
        if (code == platform::errorFileExists()) continue;
        log.logData("filename", outPath.str());
        logSystemError(log, code);
        log.logError("Failed to open/create file for writing");
        return platform::kInvalidFile;
    }
    log.logData("filename", outPath.str());
    log.logError("Failed to open/create file for writing");
    return platform::kInvalidFile;
}

bool tempDirectory(StringBuffer& out) {
    char dir[600];
    if (platform::tempDirectory(dir, sizeof dir) == 0) return false;
    out.assign(dir);
    return true;
}

bool writeUniqueTempFile(const char* fileName, const void* data, uint32_t length, StringBuffer& outPath,
                         LogBase* logp) {
    LogBase& log = logOrNull(logp);
    StringBuffer dir;
    if (!tempDirectory(dir)) {
        logSystemError(log, platform::lastError());
        log.logError("Failed to open/create file for writing");
        return false;
    }
    platform::FileHandle h = createUniqueFile(dir.str(), fileName, outPath, &log);
    if (h == platform::kInvalidFile) return false;
    bool ok = writeAll(h, outPath.str(), data, length, log);
    platform::closeFile(h);
    if (!ok) platform::deleteFile(outPath.str());  // no partial copy left behind
    return ok;
}

}  // namespace FileSys
