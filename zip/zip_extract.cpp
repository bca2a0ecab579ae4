// Extracting a whole archive into a folder. Every entry name is checked
// before anything is made for it, so that no name can reach outside the
// target folder; every file is written under a temporary name beside its
// place and renamed over it only after its contents were verified, so that
// a failing entry (wrong password, bad CRC, a bomb) neither leaves a partial
// file nor destroys a file of the same name that was there before.
#include "zip/zip_extract.h"

#include <cstring>
#include <string>
#include <vector>

#include "support/platform.h"
#include "zip/zip_archive.h"

ZipProgress::~ZipProgress() = default;

namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

char asciiUpper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

bool equalsNoCase(const std::string& a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; i++)
        if (asciiUpper(a[i]) != asciiUpper(b[i])) return false;
    return true;
}

// A Windows device name: the part before the first dot, without trailing
// spaces (the system ignores them), is one of the reserved names. The
// digits of COM and LPT include the superscripts 1, 2 and 3, which the
// system also treats as devices.
bool isDeviceName(const std::string& component) {
    std::string base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    static const char* const kPlain[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* d : kPlain)
        if (equalsNoCase(base, d)) return true;
    if (base.size() < 4) return false;
    std::string head = base.substr(0, 3);
    if (!equalsNoCase(head, "COM") && !equalsNoCase(head, "LPT")) return false;
    std::string digit = base.substr(3);
    if (digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') return true;
    return digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

std::string stripEntryPrefix(const std::string& error, const std::string& entry) {
    std::string prefix = entry + ": ";
    if (!entry.empty() && error.compare(0, prefix.size(), prefix) == 0) return error.substr(prefix.size());
    return error;
}

std::string systemMessage(uint32_t code) {
    char text[512];
    uint32_t n = platform::errorText(code, text, sizeof text);
    std::string s(text, n);
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' ' || s.back() == '.')) s.pop_back();
    return s.empty() ? "error " + std::to_string(code) : s;
}

// Writes an entry's contents to an open file through a buffer, refusing
// anything past the size the archive declares.
class FileSink : public ZipDataSink {
public:
    FileSink(platform::FileHandle file, uint64_t limit) : file_(file), limit_(limit) { buffer_.reserve(kBufferSize); }

    bool write(const uint8_t* data, size_t length) override {
        if (length > limit_ - received_) {
            error_ = "more data than the declared size of " + std::to_string(limit_) + " bytes";
            return false;
        }
        received_ += length;
        while (length) {
            size_t room = kBufferSize - buffer_.size();
            size_t take = length < room ? length : room;
            buffer_.insert(buffer_.end(), data, data + take);
            data += take;
            length -= take;
            if (buffer_.size() == kBufferSize && !flush()) return false;
        }
        return true;
    }

    bool flush() {
        if (buffer_.empty()) return true;
        uint32_t written = 0;
        if (!platform::writeFile(file_, buffer_.data(), uint32_t(buffer_.size()), &written) ||
            written != buffer_.size()) {
            error_ = "cannot write: " + systemMessage(platform::lastError());
            return false;
        }
        buffer_.clear();
        return true;
    }

    uint64_t received() const { return received_; }
    const std::string& error() const { return error_; }

private:
    static constexpr size_t kBufferSize = 256 * 1024;
    platform::FileHandle file_;
    uint64_t limit_;
    uint64_t received_ = 0;
    std::vector<uint8_t> buffer_;
    std::string error_;
};

// Where the entry goes: the target prefix plus the relative path in the
// system's encoding and separators. False with *reason when the name has
// no exact form there.
bool outputPath(const std::string& prefix, const std::string& relative, std::string* path, std::string* reason) {
    int n = platform::utf8ToAnsi(relative.data(), int(relative.size()), nullptr, 0);
    std::string local(size_t(n > 0 ? n : 0), '\0');
    if (n <= 0 || platform::utf8ToAnsi(relative.data(), int(relative.size()), &local[0], n) != n) {
        *reason = "the name is not valid UTF-8 or has characters that the system code page cannot represent";
        return false;
    }
    // '/' is ASCII and no code page uses its byte inside a character.
    char sep = platform::pathSeparator();
    for (char& c : local)
        if (c == '/') c = sep;
    *path = prefix + local;
    return true;
}

// A stored MS-DOS date and time that names a real moment. Archives without
// times (all zero, or garbage) keep the time of writing instead.
bool dosTimeValid(uint16_t date, uint16_t time) {
    static const int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int year = 1980 + (date >> 9), month = (date >> 5) & 15, day = date & 31;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] || (month == 2 && day == 29 && !leap))
        return false;
    return (time >> 11) <= 23 && ((time >> 5) & 63) <= 59 && (time & 31) <= 29;
}

struct FolderEntry {
    size_t index;
    std::string path;
};

class Extraction {
public:
    Extraction(ZipReader& reader, const char* password, ZipProgress* progress)
        : reader_(reader), password_(password), progress_(progress) {}

    ZipExtractResult run(const char* targetFolder);

private:
    void extractEntry(size_t i);
    bool writeFile(size_t i, const std::string& relative, const std::string& path);
    void finishFolders();
    void fail(const ZipEntry& e, const std::string& reason) { result_.failures.push_back({e.name, reason}); }

    ZipReader& reader_;
    const char* password_;
    ZipProgress* progress_;
    std::string prefix_;
    std::vector<FolderEntry> folders_;
    ZipExtractResult result_;
};

ZipExtractResult Extraction::run(const char* targetFolder) {
    std::vector<char> previous(32768);
    bool havePrevious = platform::currentDirectory(previous.data(), uint32_t(previous.size())) > 0;

    std::string target = targetFolder ? targetFolder : "";
    if (!target.empty() && target != ".") {
        if (!platform::createDirectoryChain(target.c_str())) {
            result_.targetFailed = true;
            result_.failures.push_back(
                {"", "cannot create the folder " + target + ": " + systemMessage(platform::lastError())});
            if (havePrevious) platform::setCurrentDirectory(previous.data());
            return result_;
        }
        prefix_ = target;
        if (!isSeparator(prefix_.back()) && prefix_.back() != platform::pathSeparator())
            prefix_ += platform::pathSeparator();
    }

    uint64_t total = 0;
    for (size_t i = 0; i < reader_.entryCount(); i++) {
        uint64_t size = reader_.entry(i).uncompressedSize;
        total = size > UINT64_MAX - total ? UINT64_MAX : total + size;  // declared sizes are untrusted
    }
    uint64_t done = 0;
    for (size_t i = 0; i < reader_.entryCount(); i++) {
        extractEntry(i);
        uint64_t size = reader_.entry(i).uncompressedSize;
        done = size > total - done ? total : done + size;
        if (progress_) progress_->progress(done, total);
    }
    finishFolders();

    if (havePrevious) platform::setCurrentDirectory(previous.data());
    return result_;
}

void Extraction::extractEntry(size_t i) {
    const ZipEntry& e = reader_.entry(i);
    std::string relative, reason, path;
    if (!zipEntryPath(e.name, &relative, &reason) || !outputPath(prefix_, relative, &path, &reason)) {
        fail(e, reason);
        return;
    }
    if (e.isDirectory()) {
        if (!platform::createDirectoryChain(path.c_str())) {
            fail(e, "cannot create the folder " + path + ": " + systemMessage(platform::lastError()));
            return;
        }
        result_.foldersMade++;
        folders_.push_back({i, path});  // times and attributes once everything inside is written
        return;
    }
    if (!writeFile(i, relative, path)) return;
    result_.filesWritten++;
    if (dosTimeValid(e.dosDate, e.dosTime) && !platform::setFileTimesFromDos(path.c_str(), e.dosDate, e.dosTime))
        fail(e, "Failed to set file time: " + systemMessage(platform::lastError()));
    uint32_t attributes = e.dosAttributes();
    if (attributes != 0x20 && !platform::setFileAttributes(path.c_str(), attributes))
        fail(e, "Failed to set file attributes: " + systemMessage(platform::lastError()));
}

bool Extraction::writeFile(size_t i, const std::string& relative, const std::string& path) {
    const ZipEntry& e = reader_.entry(i);
    // The folder from the UTF-8 path: in a double-byte code page the byte
    // of a separator can be the second half of a character.
    size_t cut = relative.rfind('/');
    std::string parent, reason;
    if (cut != std::string::npos && !outputPath(prefix_, relative.substr(0, cut), &parent, &reason)) {
        fail(e, reason);
        return false;
    }
    if (cut == std::string::npos && !prefix_.empty()) parent = prefix_;
    if (!parent.empty() && !platform::createDirectoryChain(parent.c_str())) {
        fail(e, "cannot create the folder " + parent + ": " + systemMessage(platform::lastError()));
        return false;
    }
    // A new temporary name beside the file (never an existing file's).
    std::string temporary;
    platform::FileHandle file = platform::kInvalidFile;
    for (int k = 0; k < 100 && file == platform::kInvalidFile; k++) {
        temporary = path + ".orvpart" + (k ? std::to_string(k) : std::string());
        file = platform::openFile(temporary.c_str(), platform::OpenMode::CreateNew);
        if (file == platform::kInvalidFile && platform::lastError() != platform::errorFileExists()) break;
    }
    if (file == platform::kInvalidFile) {
        fail(e, "cannot create " + path + ": " + systemMessage(platform::lastError()));
        return false;
    }
    FileSink sink(file, e.uncompressedSize);
    std::string error;
    bool ok = reader_.extract(i, sink, password_, &error);
    if (ok && !sink.flush()) ok = false;
    if (ok && sink.received() != e.uncompressedSize) {
        ok = false;
        error = "gave " + std::to_string(sink.received()) + " bytes where " + std::to_string(e.uncompressedSize) +
                " were declared";
    }
    platform::closeFile(file);
    if (!ok) {
        platform::deleteFile(temporary.c_str());
        // The sink's own reason is the more precise one when it stopped the reader.
        fail(e, !sink.error().empty() ? sink.error() : stripEntryPrefix(error, e.name));
        return false;
    }
    if (!platform::renameReplacing(temporary.c_str(), path.c_str())) {
        uint32_t code = platform::lastError();
        platform::deleteFile(temporary.c_str());
        fail(e, "cannot write " + path + ": " + systemMessage(code));
        return false;
    }
    return true;
}

void Extraction::finishFolders() {
    // Writing into a folder changes its times, and a read-only folder may
    // refuse new files: both wait until every entry is out.
    for (const FolderEntry& f : folders_) {
        const ZipEntry& e = reader_.entry(f.index);
        if (dosTimeValid(e.dosDate, e.dosTime) && !platform::setFileTimesFromDos(f.path.c_str(), e.dosDate, e.dosTime))
            fail(e, "Failed to set file time: " + systemMessage(platform::lastError()));
        uint32_t attributes = e.dosAttributes();
        if (attributes != 0x20 && !platform::setFileAttributes(f.path.c_str(), attributes))
            fail(e, "Failed to set file attributes: " + systemMessage(platform::lastError()));
    }
}

}  // namespace

bool zipEntryPath(const std::string& name, std::string* relative, std::string* reason) {
    relative->clear();
    if (name.empty()) {
        *reason = "empty name";
        return false;
    }
    for (char c : name) {
        if (static_cast<unsigned char>(c) < 0x20) {
            *reason = "control character in the name";
            return false;
        }
    }
    if (isSeparator(name[0])) {
        *reason = "absolute path";
        return false;
    }
    if (name.size() >= 2 && name[1] == ':' && ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'))) {
        *reason = "drive letter";
        return false;
    }
    if (name.find(':') != std::string::npos) {
        *reason = "\":\" in the name (alternate data stream)";
        return false;
    }
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = start;
        while (end < name.size() && !isSeparator(name[end])) end++;
        std::string part = name.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            *reason = "\"..\" leads out of the target folder";
            return false;
        }
        if (part.find_first_not_of(". ") == std::string::npos) {
            *reason = "a path component of only dots and spaces";
            return false;
        }
        if (isDeviceName(part)) {
            *reason = "Windows device name \"" + part + "\"";
            return false;
        }
        if (!relative->empty()) *relative += '/';
        *relative += part;
    }
    if (relative->empty()) {
        *reason = "the name names no file or folder";
        return false;
    }
    return true;
}

ZipExtractResult extractAll(ZipReader& reader, const char* targetFolder, const char* password, ZipProgress* progress) {
    return Extraction(reader, password, progress).run(targetFolder);
}
