// The self-extractor side of the engine: its settings and the write
// through the builder's pipeline, on the stub the program carries.
#include "sfxbuilder/sfx_settings.h"
#include "sfxstub/stub_carrier.h"
#include "support/activity_log.h"
#include "support/logger.h"
#include "support/platform.h"
#include "support/replacing_output.h"
#include "zip/zip_archive.h"
#include "zipengine/log_context.h"
#include "zipengine/zip_engine.h"

namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// A path on disk ("C:\tools\setup.exe", "\setup.exe") stands for its file
// name; a path inside the archive ("bin\setup.exe") stays as it is.
std::string programInArchive(const std::string& name) {
    const bool onDisk = (name.size() >= 2 && name[1] == ':') || (!name.empty() && isSeparator(name[0]));
    if (!onDisk) return name;
    size_t cut = name.size();
    while (cut > 0 && !isSeparator(name[cut - 1])) cut--;
    return name.substr(cut);
}

// Entry names compared as Windows compares file names: ASCII case and the
// kind of separator ignored.
std::string comparable(std::string name) {
    for (char& c : name) {
        if (c == '\\')
            c = '/';
        else if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return name;
}

bool archiveHolds(const std::string& zipPath, const std::string& name) {
    ZipReader reader;
    std::string why;
    if (!reader.openFile(zipPath.c_str(), &why)) return false;
    int n = platform::ansiToUtf8(name.data(), int(name.size()), nullptr, 0);
    std::string utf8(size_t(n > 0 ? n : 0), '\0');
    if (n > 0) platform::ansiToUtf8(name.data(), int(name.size()), &utf8[0], n);
    for (size_t i = 0; i < reader.entryCount(); i++)
        if (comparable(reader.entry(i).name) == comparable(utf8)) return true;
    return false;
}

// The archive packed for the executable, removed whatever happens.
struct TemporaryZip {
    std::string path;
    ~TemporaryZip() {
        if (!path.empty()) platform::deleteFile(path.c_str());
    }
};

// What the build logged as errors from entry `from` on, one line each.
std::string errorsSince(Logger& log, int from) {
    std::string out;
    ActivityLog* a = log.activityLog();
    for (int i = from; a && i < a->count(); i++) {
        const LogEntry* e = a->entry(i);
        if (e->kind == LogEntry::Message && e->level == LogEntry::Error)
            out += std::string("\n") + e->text->str();
        else if (e->kind == LogEntry::Data && !out.empty())
            out += std::string(" ") + e->name->str() + "=" + e->text->str();
    }
    return out;
}

}  // namespace

void ZipEngine::setRunFromTemporaryFolder(bool on) { runFromTemp_ = on; }

void ZipEngine::setUnzipFolder(const std::string& folder) { unzipFolder_ = folder; }

void ZipEngine::setRunProgram(bool on) { runProgram_ = on; }

void ZipEngine::setIconFile(const std::string& path) { iconFile_ = path; }

void ZipEngine::setProgramToRun(const std::string& name) { program_ = name; }

void ZipEngine::setEncryption(bool on) { encrypt_ = on; }

void ZipEngine::setKeyLength(int bits) { keyBits_ = bits; }

void ZipEngine::writeSelfExtractor(const std::string& path) {
    needArchive("writeSelfExtractor");
    LogContext context(*log_, "WriteExe");
    log_->logData("filename", path.c_str());
    // Settings the self-extractor would never act on are refused.
    if (runFromTemp_ && !runProgram_) fail("Running from a temporary folder needs a program to run", path);
    if (runProgram_ && program_.empty()) fail("No program to run after extraction is named", path);
    if (!runProgram_ && !program_.empty()) fail("A program to run is named but running it is off", path);
    if (encrypt_ && password_.empty()) fail("Encryption is on but the password is empty", path);
    if (keyBits_ != 128 && keyBits_ != 192 && keyBits_ != 256)
        fail("The key length must be 128, 192 or 256, not " + std::to_string(keyBits_), path);

    TemporaryZip zip;
    char tmp[1024], name[1100];
    if (!platform::tempDirectory(tmp, sizeof tmp) || !platform::createUniqueTempFile(tmp, "ozp", name, sizeof name))
        fail("Cannot create a temporary file (" + platform::errorMessage(platform::lastError()) + ")", tmp);
    zip.path = name;
    writeZipTo(zip.path, false);

    SfxSettings settings;
    settings.unzipDir = unzipFolder_;
    settings.runProgram = runProgram_;
    settings.program = programInArchive(program_);
    settings.runInPlace = !runFromTemp_;
    settings.iconFile = iconFile_;
    settings.encrypt = encrypt_;
    settings.password = password_;
    settings.keyBits = keyBits_;
    if (runProgram_ && !archiveHolds(zip.path, settings.program))
        fail("The program to run is not in the archive: " + settings.program, path);

    ReplacingOutput output;  // abandoned unless committed
    std::string why;
    if (!output.begin(path.c_str(), &why)) fail("Cannot create the executable (" + why + ")", path);
    output.closeFile();
    const int logged = log_->activityLog() ? log_->activityLog()->count() : 0;
    CarriedStub stub;
    if (!stub.open(stubId_, log_.get()) ||
        !buildSelfExtractor(stub.image(), settings, zip.path.c_str(), output.path().c_str(), log_.get()))
        fail("Cannot build the self-extractor", path, errorsSince(*log_, logged));
    if (!output.commit(&why)) fail("Cannot put the executable in place (" + why + ")", path);
}
