// The self-extractor's logic: its start-up mode, its texts, and one run from
// the password to the program started afterwards. The encrypted payload is
// read through a decrypting view, so the plain archive exists only block
// by block in memory, never in a file.
#include "sfxstub/stub_core.h"

#include <cstdio>
#include <memory>

#include "crypto/easy_crypt.h"
#include "sfxstub/payload_view.h"
#include "support/file_sys.h"
#include "support/platform.h"
#include "zip/zip_archive.h"
#include "zip/zip_extract.h"

// ---- Texts ------------------------------------------------------------------

namespace StubText {

const char* const kErrorTitle = "Error";
const char* const kStatusTitle = "Status";
const char* const kOpenFailed = "Failed to open embedded zip.";
const char* const kIncorrectPassword = "Incorrect password.";
const char* const kDecrypting = "Decrypting...";
const char* const kUnzipping = "Unzipping...";
const char* const kFinished = "Finished.";
const char* const kUnzipFailedStatus = "Unzip failed.";
const char* const kBrowseTitle = "Please select a folder.";

std::string unzipSucceeded(const char* folder) {
    return std::string("Unzip to ") + (folder ? folder : "") + " successful.";
}

std::string failedToRun(const char* path) {
    return std::string("Failed to run ") + (path ? path : "") + " (check to see if this file is in the Zip)";
}

std::string unzipFailed(const char* folder, const std::vector<std::pair<std::string, std::string>>& failures) {
    const std::string where = folder ? folder : "";
    std::string text = "Unzip to " + where + " failed";
    if (failures.empty()) return text + ".";
    size_t entries = 0;
    for (const auto& f : failures)
        if (!f.first.empty()) entries++;
    if (entries == failures.size())
        text += " for " + std::to_string(entries) + (entries == 1 ? " file" : " files");
    text += ":";
    size_t listed = 0;
    for (const auto& f : failures) {
        if (listed == kMaxListedFailures) break;
        // The folder's own failure names the folder in its reason.
        text += "\r\n  " + (f.first.empty() ? f.second : f.first + ": " + f.second);
        listed++;
    }
    if (failures.size() > listed) text += "\r\n  and " + std::to_string(failures.size() - listed) + " more.";
    return text;
}

}  // namespace StubText

StubMode chooseStubMode(const StubParameters& p) {
    if (p.noInterface) return StubMode::Silent;
    if (!p.unzipDir.isEmpty() || p.hasAutotemp) return StubMode::Automatic;
    return StubMode::Interactive;
}

StubUi::~StubUi() = default;

// ---- One run --------------------------------------------------------------------

namespace {

uint32_t percentOf(uint64_t done, uint64_t total) {
    if (total == 0 || done >= total) return 100;
    uint64_t p = total > UINT64_MAX / 100 ? done / (total / 100) : done * 100 / total;
    return p > 100 ? 100 : uint32_t(p);
}

// Progress to one of the stub's bars, passed on only when the percentage
// moves (the caller has shown 0).
class PercentGate {
public:
    PercentGate(StubUi& ui, void (StubUi::*show)(uint32_t)) : ui_(ui), show_(show) {}
    void report(uint64_t done, uint64_t total) {
        uint32_t p = percentOf(done, total);
        if (p == last_) return;
        last_ = p;
        (ui_.*show_)(p);
    }

private:
    StubUi& ui_;
    void (StubUi::*show_)(uint32_t);
    uint32_t last_ = 0;
};

// The two bars of one run: decryption to bar 1010 (payload bytes decrypted
// so far; a block that the reader asks for twice counts twice, so the bar
// can reach its end a little early, never run past it) and unzip to bar
// 1008.
class BarProgress : public PayloadProgress, public ZipProgress {
public:
    explicit BarProgress(StubUi& ui) : decrypt_(ui, &StubUi::decryptProgress), unzip_(ui, &StubUi::unzipProgress) {}
    void decrypted(uint64_t done, uint64_t total) override { decrypt_.report(done, total); }
    void progress(uint64_t done, uint64_t total) override { unzip_.report(done, total); }

private:
    PercentGate decrypt_, unzip_;
};

// An entry name (UTF-8 inside the zip library) as the system code page
// shows it; characters it cannot show become "?".
std::string displayName(const std::string& utf8) {
    if (utf8.empty()) return utf8;
    int n = platform::utf8ToAnsi(utf8.data(), int(utf8.size()), nullptr, 0);
    if (n > 0) {
        std::string out(size_t(n), '\0');
        if (platform::utf8ToAnsi(utf8.data(), int(utf8.size()), &out[0], n) == n) return out;
    }
    std::string out;
    for (char c : utf8) {
        uint8_t b = uint8_t(c);
        if (b < 0x80) out += c;
        else if (b >= 0xC0) out += '?';  // one mark per character: continuation bytes are dropped
    }
    return out;
}

}  // namespace

StubSession::StubSession(const StubParameters& params, StubUi& ui) : params_(params), ui_(ui) {}

UnzipOutcome StubSession::openFailed(const std::string& why) {
    openError_ = why.empty() ? "the archive cannot be opened" : why;
    ui_.showMessage(StubText::kOpenFailed, StubText::kErrorTitle);
    return UnzipOutcome::OpenFailed;
}

UnzipOutcome StubSession::openAndUnzip(const char* target) {
    failures_.clear();
    openError_.clear();
    std::string error;
    StringBuffer password;
    const char* entryPassword = nullptr;
    BarProgress bars(ui_);  // outlives the reader, which reports to it
    ZipReader reader;

    if (params_.encrypted) {
        // A check resource of the wrong size or with an impossible key
        // length, or no payload, can never accept a password: the
        // self-extractor is damaged, and asking would only invite guesses.
        if (!params_.encryptedWellFormed)
            return openFailed("the \"encrypted\" resource is not " + std::to_string(kEncryptedResourceSize) +
                              " bytes");
        if (!isPayloadKeyLength(params_.keyBits))
            return openFailed("the payload key length " + std::to_string(params_.keyBits) +
                              " is not 128, 192 or 256 bits");
        if (!params_.hasZip) return openFailed("the \"zip\" resource is missing");
        if (!ui_.askPassword(password)) return UnzipOutcome::Cancelled;
        ui_.setStatus(StubText::kDecrypting);
        if (!EasyCrypt::verifyCheckBlock(password.str(), params_.checkBlock, sizeof params_.checkBlock)) {
            ui_.setStatus("");
            ui_.showMessage(StubText::kIncorrectPassword, StubText::kErrorTitle);
            return UnzipOutcome::WrongPassword;
        }
        std::unique_ptr<DecryptingPayloadView> view(new DecryptingPayloadView());
        view->setProgress(&bars);
        ui_.decryptProgress(0);
        if (!view->open(openZipPayload(params_), params_.keyBits, password.str(), &error) ||
            !reader.openSource(std::move(view), &error)) {
            ui_.setStatus("");
            return openFailed(error);
        }
        entryPassword = password.str();
    } else {
        if (!params_.hasZip) return openFailed("the \"zip\" resource is missing");
        if (!reader.openSource(openZipPayload(params_), &error)) return openFailed(error);
    }

    ui_.unzipProgress(0);
    ui_.setStatus(StubText::kUnzipping);
    ZipExtractResult result = extractAll(reader, target ? target : "", entryPassword, &bars, extractOptions_);
    reader.close();
    skipped_ = result.skipped;
    refusedExisting_ = result.refusedExisting;
    warnings_ = result.warnings;
    for (const ZipExtractResult::Failure& f : result.failures)
        failures_.emplace_back(displayName(f.entry), f.reason);
    return result.ok() ? UnzipOutcome::Unzipped : UnzipOutcome::UnzipFailed;
}

void StubSession::startProgram(const std::string& path, const char* workDir) {
    const char* arguments = params_.autoParams.isEmpty() ? nullptr : params_.autoParams.str();
    if (!ui_.runProgram(path.c_str(), arguments, workDir))
        ui_.showMessage(StubText::failedToRun(path.c_str()).c_str(), StubText::kErrorTitle);
}

UnzipOutcome StubSession::runAutomatic() {
    const std::string target = automaticTarget();
    UnzipOutcome outcome = openAndUnzip(target.c_str());
    if (outcome == UnzipOutcome::UnzipFailed) {
        ui_.showMessage(StubText::unzipFailed(target.c_str(), failures_).c_str(), StubText::kErrorTitle);
    } else if (outcome == UnzipOutcome::Unzipped && !params_.autotemp.isEmpty()) {
        // The automatic path always joins with "\"; "autorun" is not run here.
        startProgram(target + "\\" + params_.autotemp.str(), target.c_str());
    }
    return outcome;
}

UnzipOutcome StubSession::runInteractive(const char* folder) {
    const char* target = folder ? folder : "";
    UnzipOutcome outcome = openAndUnzip(target);
    if (outcome == UnzipOutcome::UnzipFailed) {
        ui_.setStatus(StubText::kUnzipFailedStatus);
        ui_.showMessage(StubText::unzipFailed(target, failures_).c_str(), StubText::kErrorTitle);
    } else if (outcome == UnzipOutcome::Unzipped) {
        ui_.setStatus(StubText::kFinished);
        if (params_.hasAutorun)
            startProgram(interactiveProgramPath(target, params_.autorun.str()), target);
        else
            ui_.showMessage(StubText::unzipSucceeded(target).c_str(), StubText::kStatusTitle);
    }
    return outcome;
}

std::string temporaryUnzipTarget(const char* tempFolder, uint32_t tickCount) {
    StringBuffer name;
    FileSys::makeUniquePath(tempFolder && *tempFolder ? tempFolder : ".", "vkz.tmp", name);
    // "%x" by hand: no printf family in the stub.
    char hex[9];
    char* p = hex + sizeof hex;
    *--p = 0;
    do {
        *--p = "0123456789abcdef"[tickCount & 15];
        tickCount >>= 4;
    } while (tickCount);
    return std::string(name.str()) + p;
}

std::string StubSession::automaticTarget() const {
    if (!params_.unzipDir.isEmpty()) return params_.unzipDir.str();
    StringBuffer temp;
    if (!FileSys::tempDirectory(temp)) temp.assign(".");
    return temporaryUnzipTarget(temp.str(), platform::tickCount());
}

std::string interactiveProgramPath(const char* folder, const char* program) {
    std::string path = folder ? folder : "";
    // Without a folder the unzip went into the current folder: the program
    // is found there, not at the root of the drive.
    if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '\\';
    return path + (program ? program : "");
}
