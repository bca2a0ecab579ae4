#include "zipengine/zip_engine.h"

#include <algorithm>
#include <utility>

#include "support/logger.h"
#include "support/platform.h"
#include "support/wildcard.h"
#include "zip/zip_archive.h"
#include "zip/zip_extract.h"
#include "zipengine/log_context.h"

namespace {

// How often a long operation reports at the least, in milliseconds.
constexpr uint32_t kHeartbeatMs = 50;

bool isSeparator(char c) { return c == '/' || c == '\\'; }

std::string utf8Of(const std::string& ansi) {
    int n = platform::ansiToUtf8(ansi.data(), int(ansi.size()), nullptr, 0);
    if (n <= 0) return ansi;
    std::string out(size_t(n), '\0');
    platform::ansiToUtf8(ansi.data(), int(ansi.size()), &out[0], n);
    return out;
}

// An entry name for the windows: the system code page where it has every
// character, else each character it lacks as '?'.
std::string displayName(const std::string& utf8) {
    if (utf8.empty()) return utf8;
    int n = platform::utf8ToAnsi(utf8.data(), int(utf8.size()), nullptr, 0);
    if (n > 0) {
        std::string out(size_t(n), '\0');
        if (platform::utf8ToAnsi(utf8.data(), int(utf8.size()), &out[0], n) == n) return out;
    }
    std::string out;
    for (unsigned char c : utf8) {
        if (c < 0x80)
            out += char(c);
        else if (c >= 0xC0)
            out += '?';  // a lead byte; continuation bytes are dropped
    }
    return out;
}

bool hasWildcard(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

// Reads the archive file and counts what the reader takes, so that an
// unzip can report progress inside one large entry.
class CountingSource : public ZipSource {
public:
    CountingSource(platform::FileHandle h, uint64_t size) : file_(h), size_(size) {}
    ~CountingSource() override { platform::closeFile(file_); }
    uint64_t size() const override { return size_; }
    bool read(uint64_t pos, void* buf, size_t n) override {
        if (pos > size_ || n > size_ - pos || !platform::seekFile(file_, pos)) return false;
        uint8_t* p = static_cast<uint8_t*>(buf);
        while (n) {
            uint32_t want = n > (1u << 30) ? (1u << 30) : uint32_t(n), got = 0;
            if (!platform::readFile(file_, p, want, &got) || got == 0) return false;
            p += got;
            n -= got;
            bytesRead += got;
        }
        if (onRead) onRead();
        return true;
    }

    uint64_t bytesRead = 0;
    std::function<void()> onRead;

private:
    platform::FileHandle file_;
    uint64_t size_;
};

// Takes the first piece of an entry's contents and stops: enough to know
// that the password opens it.
class FirstPiece : public ZipDataSink {
public:
    bool write(const uint8_t*, size_t) override {
        got = true;
        return false;
    }
    bool got = false;
};

// The percentage of an unzip: the larger of the share of the archive read
// and the share of the uncompressed bytes written, never falling, held
// below 100 until the end.
class Percentage : public ZipProgress {
public:
    Percentage(const std::function<void(int)>& report, const std::function<void()>& busy)
        : report_(report), busy_(busy) {}
    void progress(uint64_t done, uint64_t total) override { offer(total ? int(done * 100 / total) : 0); }
    void offer(int percent) {
        percent = std::min(std::max(percent, last_), 99);
        const uint32_t now = platform::tickCount();
        if (percent != last_ || now - lastCall_ >= kHeartbeatMs || first_) {
            first_ = false;
            last_ = percent;
            lastCall_ = now;
            if (report_) report_(percent);
            if (busy_) busy_();
        }
    }
    void finish() {
        last_ = 100;
        if (report_) report_(100);
    }

private:
    const std::function<void(int)>& report_;
    const std::function<void()>& busy_;
    int last_ = 0;
    uint32_t lastCall_ = 0;
    bool first_ = true;
};

// Tells the window while files are written.
class BusyListener : public ZipWriter::Listener {
public:
    explicit BusyListener(const std::function<void()>& busy) : busy_(busy) {}
    void adding(const std::string&) override {
        if (busy_) busy_();
    }

private:
    const std::function<void()>& busy_;
};

}  // namespace

const ZipEngineEntry& EntryCollection::next() {
    if (!hasMore()) throw ZipEngineError(ZipEngineError::OutOfOrder, "no entry is left in the collection");
    return entries_[pos_++];
}

struct ZipEngine::Reader {
    ZipReader zip;
    CountingSource* source = nullptr;  // owned by zip
    platform::FileId id;
    std::vector<ZipEngineEntry> entries;
};

ZipEngine::ZipEngine(uint16_t stubId) : stubId_(stubId), log_(new Logger()) {}

ZipEngine::~ZipEngine() = default;

void ZipEngine::setUnzipPercentDone(std::function<void(int)> callback) { percentDone_ = std::move(callback); }

void ZipEngine::setBusyCallback(std::function<void()> callback) { busy_ = std::move(callback); }

void ZipEngine::fail(const std::string& message, const std::string& file, const std::string& detail) {
    log_->logError(message.c_str());
    if (!file.empty()) log_->logData("filename", file.c_str());
    throw ZipEngineError(ZipEngineError::Failed, (file.empty() ? message : message + ": " + file) + detail);
}

// ---- Reading ---------------------------------------------------------------

void ZipEngine::setPassword(const std::string& password) { password_ = password; }

bool ZipEngine::isOpen() const { return reader_ != nullptr; }

void ZipEngine::openZip(const std::string& path) {
    LogContext context(*log_, "OpenZip");
    reader_.reset();
    opened_ = true;
    archivePath_ = path;
    log_->logData("filename", path.c_str());

    uint64_t size = 0;
    platform::FileHandle h = platform::openRegularFile(path.c_str(), &size);
    if (h == platform::kInvalidFile)
        fail("Cannot open the archive (" + platform::errorMessage(platform::lastError()) + ")", path);
    std::unique_ptr<Reader> r(new Reader());
    platform::fileIdOfHandle(h, &r->id);
    std::unique_ptr<CountingSource> source(new CountingSource(h, size));
    r->source = source.get();
    std::string why;
    if (!r->zip.openSource(std::move(source), &why)) fail("Cannot read the archive (" + why + ")", path);

    const ZipEntry* check = nullptr;  // the smallest encrypted file
    size_t checkIndex = 0;
    for (size_t i = 0; i < r->zip.entryCount(); i++) {
        const ZipEntry& e = r->zip.entry(i);
        ZipEngineEntry out;
        out.fileName = displayName(e.name);
        out.size = e.uncompressedSize;
        out.isFolder = e.isDirectory();
        out.encrypted = e.encryption != ZipEntry::None;
        r->entries.push_back(out);
        if (out.encrypted && !out.isFolder && (!check || e.compressedSize < check->compressedSize)) {
            check = &e;
            checkIndex = i;
        }
    }
    if (check) {
        if (password_.empty()) fail("The archive is encrypted and no password is set", path);
        FirstPiece sink;
        if (!r->zip.extract(checkIndex, sink, password_.c_str(), &why) && !sink.got)
            fail("The password does not open the archive (" + why + ")", path);
    }
    log_->logDataInt("entries", uint32_t(r->entries.size()));
    reader_ = std::move(r);
}

EntryCollection ZipEngine::getEntries() const {
    if (!opened_) throw ZipEngineError(ZipEngineError::OutOfOrder, "getEntries before openZip: no archive is opened");
    return EntryCollection(reader_ ? reader_->entries : std::vector<ZipEngineEntry>());
}

void ZipEngine::unzipToFolder(const std::string& folder) {
    if (!reader_)
        throw ZipEngineError(ZipEngineError::OutOfOrder,
                             opened_ ? "unzip after a failed openZip: the archive " + archivePath_ + " is not open"
                                     : "unzip before openZip: no archive is opened");
    LogContext context(*log_, "UnzipToFolder");
    log_->logData("filename", archivePath_.c_str());
    log_->logData("folder", folder.c_str());
    // An empty folder would mean wherever the process happens to stand.
    if (folder.empty()) fail("No folder to unzip into is given", "");

    Percentage percent(percentDone_, busy_);
    CountingSource& source = *reader_->source;
    const uint64_t archiveSize = source.size();
    source.bytesRead = 0;
    source.onRead = [&] { percent.offer(archiveSize ? int(source.bytesRead * 100 / archiveSize) : 0); };
    percent.offer(0);
    ZipExtractOptions options;
    options.protect = reader_->id;
    ZipExtractResult result =
        extractAll(reader_->zip, folder.c_str(), password_.empty() ? nullptr : password_.c_str(), &percent, options);
    source.onRead = nullptr;

    if (!result.ok()) {
        std::string listed;
        for (const ZipExtractResult::Failure& f : result.failures) {
            const std::string line = f.entry.empty() ? f.reason : displayName(f.entry) + ": " + f.reason;
            log_->logData("failure", line.c_str());
            if (listed.size() < 2000) listed += "\n" + line;
        }
        fail("Unzipping into " + folder + " failed", "", listed);
    }
    log_->logDataInt("files", result.filesWritten);
    percent.finish();
}

void ZipEngine::saveLog(const std::string& path) {
    if (!log_->saveXml(true, path.c_str()))
        throw ZipEngineError(ZipEngineError::Failed,
                             "Cannot write the log (" + platform::errorMessage(platform::lastError()) + "): " + path);
}

// ---- Writing an archive ----------------------------------------------------

void ZipEngine::newArchive(const std::string& name) {
    archiveStarted_ = true;
    sources_.clear();
    outputName_ = name;
}

void ZipEngine::needArchive(const char* operation) {
    if (!archiveStarted_)
        throw ZipEngineError(ZipEngineError::OutOfOrder,
                             std::string(operation) + " before newArchive: no archive is started");
}

void ZipEngine::addFolderContents(const std::string& pathOrPattern, bool recurse) {
    needArchive("addFolderContents");
    LogContext context(*log_, "AddFolderContents");
    log_->logData("filename", pathOrPattern.c_str());
    Source s;
    s.recurse = recurse;
    platform::FileInfo info;
    if (platform::fileInfo(pathOrPattern.c_str(), &info)) {
        if (info.isDirectory)
            s.folder = pathOrPattern, s.pattern = "*";
        else
            s.file = pathOrPattern;
    } else {
        size_t cut = pathOrPattern.size();
        while (cut > 0 && !isSeparator(pathOrPattern[cut - 1])) cut--;
        s.pattern = pathOrPattern.substr(cut);
        s.folder = cut ? pathOrPattern.substr(0, cut) : ".";
        if (!hasWildcard(s.pattern)) fail("No such file or folder", pathOrPattern);
        if (!platform::fileInfo(s.folder.c_str(), &info) || !info.isDirectory) fail("No such folder", s.folder);
    }
    sources_.push_back(s);
}

void ZipEngine::setPasswordProtection(bool on) { protect_ = on; }

void ZipEngine::setOutputName(const std::string& path) { outputName_ = path; }

void ZipEngine::writeArchive() {
    needArchive("writeArchive");
    LogContext context(*log_, "WriteZip");
    log_->logData("filename", outputName_.c_str());
    if (outputName_.empty()) fail("No output name is given", "");
    if (protect_ && password_.empty()) fail("Password protection is on but the password is empty", outputName_);
    writeZipTo(outputName_, protect_);
}

namespace {

// The files matching pattern in folder (and its subfolders with recurse),
// as entries below prefix. Folder links are followed unless they lead back
// to a folder on the way down.
bool addMatching(ZipWriter& writer, const std::string& folder, const std::string& prefix, const std::string& pattern,
                 bool recurse, const ZipWriter::Options& options, ZipWriter::Listener& listener,
                 std::vector<platform::FileId>& above, std::string* error) {
    if (above.size() > size_t(ZipWriter::kMaxFolderDepth)) {
        *error = folder + ": folders nested too deeply";
        return false;
    }
    std::vector<std::pair<std::string, bool>> names;
    auto collect = [](void* context, const char* name, bool isDirectory) {
        static_cast<std::vector<std::pair<std::string, bool>>*>(context)->emplace_back(name, isDirectory);
        return true;
    };
    if (!platform::listDirectory(folder.c_str(), collect, &names)) {
        *error = folder + ": cannot list the folder: " + platform::errorMessage(platform::lastError());
        return false;
    }
    std::sort(names.begin(), names.end());
    std::string base = folder;
    if (!isSeparator(base.back())) base += platform::pathSeparator();
    for (const auto& n : names) {
        const std::string disk = base + n.first, entry = prefix + utf8Of(n.first);
        platform::FileInfo info;
        if (!platform::fileInfo(disk.c_str(), &info)) continue;  // a broken link
        if (!info.isDirectory) {
            if (wildcardMatches(pattern, n.first) && !writer.addFile(disk.c_str(), entry, options, error, &listener))
                return false;
            continue;
        }
        if (!recurse) continue;
        platform::FileId id;
        platform::fileIdOf(disk.c_str(), &id);
        if (std::find(above.begin(), above.end(), id) != above.end()) continue;
        above.push_back(id);
        const bool ok = addMatching(writer, disk, entry + "/", pattern, true, options, listener, above, error);
        above.pop_back();
        if (!ok) return false;
    }
    return true;
}

}  // namespace

void ZipEngine::writeZipTo(const std::string& path, bool encrypt) {
    ZipWriter::Options options;
    if (encrypt) {
        options.encryption = ZipWriter::Aes256;
        options.password = password_;
    }
    ZipWriter writer;  // abandons the temporary on every failure below
    BusyListener listener(busy_);
    std::string error;
    if (!writer.create(path.c_str(), &error)) fail("Cannot create the archive (" + error + ")", path);
    for (const Source& s : sources_) {
        bool ok;
        if (!s.file.empty()) {
            size_t cut = s.file.size();
            while (cut > 0 && !isSeparator(s.file[cut - 1])) cut--;
            ok = writer.addFile(s.file.c_str(), utf8Of(s.file.substr(cut)), options, &error, &listener);
        } else if (s.pattern == "*" || s.pattern == "*.*") {
            ok = writer.addFolder(s.folder.c_str(), "", s.recurse, options, &error, &listener);
        } else {
            std::vector<platform::FileId> above(1);
            platform::fileIdOf(s.folder.c_str(), &above[0]);
            ok = addMatching(writer, s.folder, "", s.pattern, s.recurse, options, listener, above, &error);
        }
        if (!ok) fail("Cannot add to the archive (" + error + ")", path);
    }
    if (!writer.close(&error)) fail("Cannot write the archive (" + error + ")", path);
}
