// Extracting a whole archive into a folder. Every entry name is checked
// before anything is made for it, so that no name can reach outside the
// target folder, and every step below the target goes through an output
// tree that never follows a link. Every file is written under a short
// temporary name beside its place and renamed over it only after its
// contents were verified, so that a failing entry (wrong password, bad
// CRC, a bomb) neither leaves a partial file nor destroys a file of the
// same name that was there before.
#include "zip/zip_extract.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/platform.h"
#include "zip/crc32.h"
#include "zip/zip_archive.h"

ZipProgress::~ZipProgress() = default;
ZipOverwriteQuestion::~ZipOverwriteQuestion() = default;

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

// A path with its letters folded to one case, for the names that collide
// where the file system ignores case: ASCII, Latin-1, Greek and Cyrillic
// capitals (the common ones; exotic pairs are not folded).
std::string foldCase(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size(); i++) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c >= 'A' && c <= 'Z') {
            out += char(c + 32);
        } else if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
            uint32_t cp = (uint32_t(c & 0x1F) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3F);
            if ((cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) || (cp >= 0x391 && cp <= 0x3AB) ||
                (cp >= 0x410 && cp <= 0x42F))
                cp += 32;
            else if (cp >= 0x400 && cp <= 0x40F)
                cp += 80;
            out += char(0xC0 | (cp >> 6));
            out += char(0x80 | (cp & 0x3F));
            i++;
        } else {
            out += char(c);
        }
    }
    return out;
}

// Where names ignore case (the Windows file systems).
bool namesIgnoreCase() { return platform::pathSeparator() == '\\'; }

std::string systemReason(const char* what, const std::string& where) {
    uint32_t code = platform::lastError();
    if (code == platform::errorLinkInPath())
        return std::string(what) + " " + where + ": the path leads through a link or junction, which is not followed";
    if (code == platform::errorNameTooLong())
        return std::string(what) + " " + where + ": the path is too long for this system";
    return std::string(what) + " " + where + ": " + platform::errorMessage(code);
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
            error_ = "cannot write: " + platform::errorMessage(platform::lastError());
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
    std::string relative;
};

class Extraction {
public:
    Extraction(ZipReader& reader, const char* password, ZipProgress* progress, const ZipExtractOptions& options)
        : reader_(reader), password_(password), progress_(progress), options_(options),
          overwrite_(options.overwrite) {}

    ZipExtractResult run(const char* targetFolder);

private:
    void checkCollisions();
    void extractEntry(size_t i);
    bool mayReplace(const ZipEntry& e, const std::string& relative, const platform::NodeInfo& existing);
    bool writeFile(size_t i, const std::string& relative);
    void finishFolders();
    std::string temporaryFor(const std::string& relative) const;
    void fail(const ZipEntry& e, const std::string& reason) { result_.failures.push_back({e.name, reason}); }

    ZipReader& reader_;
    const char* password_;
    ZipProgress* progress_;
    const ZipExtractOptions& options_;
    ZipOverwrite overwrite_;  // the rule now: an answer of All or None changes it
    platform::OutputTree tree_;
    std::vector<FolderEntry> folders_;
    std::map<size_t, std::string> collisions_;  // entry index: why it is not extracted
    std::set<std::string> written_;             // relative paths of files written by this run
    ZipExtractResult result_;
};

ZipExtractResult Extraction::run(const char* targetFolder) {
    std::string target = targetFolder ? targetFolder : "";
    if (target.empty()) target = ".";
    if ((target != "." && !platform::createDirectoryChain(target.c_str())) || !tree_.open(target.c_str())) {
        result_.targetFailed = true;
        result_.failures.push_back(
            {"", "cannot create the folder " + target + ": " + platform::errorMessage(platform::lastError())});
        return result_;
    }
    checkCollisions();

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
    tree_.close();
    return result_;
}

// Entries that would write the same file: a later copy of a path fails
// (the first one stays), and so does one that differs only in case where
// names ignore case; elsewhere that one is extracted with a warning.
void Extraction::checkCollisions() {
    std::map<std::string, size_t> exact, folded;
    for (size_t i = 0; i < reader_.entryCount(); i++) {
        const ZipEntry& e = reader_.entry(i);
        std::string relative, reason;
        if (!zipEntryPath(e.name, &relative, &reason)) continue;
        auto same = exact.emplace(relative, i);
        if (!same.second) {
            const ZipEntry& first = reader_.entry(same.first->second);
            if (!(e.isDirectory() && first.isDirectory()))
                collisions_[i] = "a second entry for the same path (the first one is extracted)";
            continue;
        }
        auto alike = folded.emplace(foldCase(relative), i);
        if (alike.second) continue;
        const ZipEntry& first = reader_.entry(alike.first->second);
        if (e.isDirectory() && first.isDirectory()) continue;
        std::string text = "differs only in case from \"" + first.name + "\"";
        if (namesIgnoreCase())
            collisions_[i] = text + ", which it would replace here (the first one is extracted)";
        else
            result_.warnings.push_back({e.name, text + ": on Windows only one of them would be kept"});
    }
}

void Extraction::extractEntry(size_t i) {
    const ZipEntry& e = reader_.entry(i);
    std::string relative, reason;
    if (!zipEntryPath(e.name, &relative, &reason)) {
        fail(e, reason);
        return;
    }
    auto collision = collisions_.find(i);
    if (collision != collisions_.end()) {
        fail(e, collision->second);
        return;
    }
    // The whole path first: nothing is made for a path that cannot exist.
    if (!tree_.fits(relative.c_str()) || !tree_.fits(temporaryFor(relative).c_str())) {
        fail(e, "the path is too long for this system");
        return;
    }
    if (e.isDirectory()) {
        if (!tree_.makeFolders(relative.c_str())) {
            fail(e, systemReason("cannot create the folder", tree_.displayPath(relative.c_str())));
            return;
        }
        result_.foldersMade++;
        folders_.push_back({i, relative});  // times and attributes once everything inside is written
        return;
    }
    if (writeFile(i, relative)) result_.filesWritten++;
}

// Whether the file standing at relative may be replaced; false after
// counting the entry as skipped or failed.
bool Extraction::mayReplace(const ZipEntry& e, const std::string& relative, const platform::NodeInfo& existing) {
    std::string where = tree_.displayPath(relative.c_str());
    if (existing.kind == platform::NodeKind::Folder) {
        fail(e, "a folder stands where the file goes: " + where);
        return false;
    }
    if (existing.kind == platform::NodeKind::Other) {
        fail(e, where + " exists and is not a regular file; it is not replaced");
        return false;
    }
    if (existing.id.valid && existing.id == options_.protect) {
        fail(e, where + " is the archive being read; it is not replaced");
        return false;
    }
    ZipOverwrite rule = overwrite_;
    if (rule == ZipOverwrite::Ask && !options_.question) rule = ZipOverwrite::Refuse;
    if (rule == ZipOverwrite::Ask) {
        switch (options_.question->ask(where)) {
            case ZipOverwriteQuestion::Yes: rule = ZipOverwrite::Replace; break;
            case ZipOverwriteQuestion::No: rule = ZipOverwrite::Skip; break;
            case ZipOverwriteQuestion::All: rule = overwrite_ = ZipOverwrite::Replace; break;
            case ZipOverwriteQuestion::None: rule = overwrite_ = ZipOverwrite::Skip; break;
        }
    }
    if (rule == ZipOverwrite::Skip) {
        result_.skipped++;
        return false;
    }
    if (rule == ZipOverwrite::Refuse) {
        result_.refusedExisting++;
        fail(e, where + " exists; it is not replaced");
        return false;
    }
    return true;
}

// A short temporary name beside the file, the same for the same name, so
// that one left by an interrupted run is recognised and reused rather
// than taken for data or piled up; never the name of a file this run
// wrote.
std::string Extraction::temporaryFor(const std::string& relative) const {
    size_t cut = relative.rfind('/');
    std::string folder = cut == std::string::npos ? "" : relative.substr(0, cut + 1);
    std::string name = relative.substr(cut == std::string::npos ? 0 : cut + 1);
    uint32_t crc = crc32Update(0, reinterpret_cast<const uint8_t*>(name.data()), name.size());
    for (int k = 0;; k++, crc++) {
        // ".orvpart-" and eight hexadecimal digits (no printf in the stub).
        char text[] = ".orvpart-00000000";
        for (int d = 0; d < 8; d++) text[9 + d] = "0123456789abcdef"[(crc >> (28 - 4 * d)) & 15];
        if (!written_.count(folder + text) || k > 1000) return folder + text;
    }
}

bool Extraction::writeFile(size_t i, const std::string& relative) {
    const ZipEntry& e = reader_.entry(i);
    size_t cut = relative.rfind('/');
    if (cut != std::string::npos && !tree_.makeFolders(relative.substr(0, cut).c_str())) {
        fail(e, systemReason("cannot create the folder", tree_.displayPath(relative.substr(0, cut).c_str())));
        return false;
    }
    platform::NodeInfo existing;
    if (!tree_.examine(relative.c_str(), &existing)) {
        fail(e, systemReason("cannot examine", tree_.displayPath(relative.c_str())));
        return false;
    }
    const bool replacing = existing.kind != platform::NodeKind::Missing;
    if (replacing && !mayReplace(e, relative, existing)) return false;

    const std::string temporary = temporaryFor(relative);
    platform::FileHandle file = tree_.createFile(temporary.c_str(), true);
    if (file == platform::kInvalidFile) {
        fail(e, systemReason("cannot create", tree_.displayPath(temporary.c_str())));
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
    if (!ok) error = !sink.error().empty() ? sink.error() : stripEntryPrefix(error, e.name);
    // Times and protection through the open file, before it takes its name.
    if (ok && dosTimeValid(e.dosDate, e.dosTime) && !platform::setHandleTimesFromDos(file, e.dosDate, e.dosTime))
        result_.failures.push_back({e.name, "Failed to set file time: " + platform::errorMessage(platform::lastError())});
    uint32_t attributes = e.dosAttributes();
    if (ok && (attributes != 0x20 || replacing) &&
        !platform::setHandleAttributes(file, attributes, replacing ? &existing : nullptr))
        result_.failures.push_back(
            {e.name, "Failed to set file attributes: " + platform::errorMessage(platform::lastError())});
    platform::closeFile(file);
    if (ok && !tree_.rename(temporary.c_str(), relative.c_str(), replacing)) {
        error = systemReason("cannot write", tree_.displayPath(relative.c_str()));
        ok = false;
    }
    if (!ok) {
        uint32_t code = platform::lastError();
        tree_.remove(temporary.c_str());
        platform::setLastError(code);
        fail(e, error);
        return false;
    }
    written_.insert(relative);
    return true;
}

void Extraction::finishFolders() {
    // Writing into a folder changes its times, and a read-only folder may
    // refuse new files: both wait until every entry is out.
    for (const FolderEntry& f : folders_) {
        const ZipEntry& e = reader_.entry(f.index);
        if (dosTimeValid(e.dosDate, e.dosTime) && !tree_.setFolderTimes(f.relative.c_str(), e.dosDate, e.dosTime))
            fail(e, "Failed to set file time: " + platform::errorMessage(platform::lastError()));
        uint32_t attributes = e.dosAttributes();
        if (attributes != 0x20 && !tree_.setFolderAttributes(f.relative.c_str(), attributes))
            fail(e, "Failed to set file attributes: " + platform::errorMessage(platform::lastError()));
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

ZipExtractResult extractAll(ZipReader& reader, const char* targetFolder, const char* password, ZipProgress* progress,
                            const ZipExtractOptions& options) {
    return Extraction(reader, password, progress, options).run(targetFolder);
}
