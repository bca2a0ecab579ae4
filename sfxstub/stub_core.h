// The self-extractor's logic, apart from its windows: choosing the
// start-up mode from the parameter resources (read by sfxformat), the
// password check, the archive (plain, or through a decrypting
// view of the encrypted payload, so that no decrypted copy ever touches the
// disk), the unzip with its progress, the program to run afterwards, and
// every message the stub shows. The Win32 dialogs and the native
// `orvanta sfx extract` both drive it through StubUi.
//
// Owns: StubUi, StubSession, the stub's texts. Uses: sfxformat (the
// parameters, StubParameters), exeimage (its own file), crypto (check
// block, payload cipher), zip (reader, safe extraction), support.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sfxformat/sfx_format.h"
#include "support/string_buffer.h"
#include "zip/zip_extract.h"

class ExeImage;
class LogBase;

// ---- Texts the stub shows ---------------------------------------------

namespace StubText {
extern const char* const kErrorTitle;          // "Error"
extern const char* const kStatusTitle;         // "Status"
extern const char* const kOpenFailed;          // "Failed to open embedded zip."
extern const char* const kIncorrectPassword;   // "Incorrect password."
extern const char* const kDecrypting;          // "Decrypting..."
extern const char* const kUnzipping;           // "Unzipping..."
extern const char* const kFinished;            // "Finished."
extern const char* const kUnzipFailedStatus;   // status label after a failed unzip
extern const char* const kBrowseTitle;         // "Please select a folder."
// "Unzip to " + folder + " successful."
std::string unzipSucceeded(const char* folder);
// "Failed to run " + path + " (check to see if this file is in the Zip)"
std::string failedToRun(const char* path);
// The report of a failed unzip: the folder, then one line per failed
// entry (entry name and reason; only the reason for a failure with an
// empty entry name, the folder itself, whose reason names it), at most
// kMaxListedFailures lines and a count of the rest.
constexpr size_t kMaxListedFailures = 20;
std::string unzipFailed(const char* folder, const std::vector<std::pair<std::string, std::string>>& failures);
}  // namespace StubText

// ---- Start-up mode ----------------------------------------------------------

enum class StubMode {
    Silent,       // "noInterface": automatic unzip, no window, exit code below
    Automatic,    // "unzipDir" text or "autotemp" present: progress dialog 138
    Interactive,  // otherwise: unzip dialog 129
};
StubMode chooseStubMode(const StubParameters& p);

// Exit codes of the process.
constexpr int kExitDialogClosed = 0;   // a dialog mode ended
constexpr int kExitSilentSuccess = 1;  // silent mode, everything unzipped
constexpr int kExitSilentFailure = 2;  // silent mode, the unzip did not succeed

// ---- What the logic asks of its surroundings ------------------------------

class StubUi {
public:
    virtual ~StubUi();
    // The password dialog. False when no password was entered (Cancel, or
    // the dialog closed); an empty text entered with OK is a password.
    virtual bool askPassword(StringBuffer& password) = 0;
    virtual void showMessage(const char* text, const char* title) = 0;
    // Status label 1009 of the unzip dialog (ignored elsewhere).
    virtual void setStatus(const char* text) = 0;
    // Progress bars: 1010 for the decryption, 1008 for the unzip; 0 to 100.
    virtual void decryptProgress(uint32_t percent) = 0;
    virtual void unzipProgress(uint32_t percent) = 0;
    // ShellExecuteA(owner, "open", path, params or none, workDir, normal).
    // True when the system reported success (a result above 32).
    virtual bool runProgram(const char* path, const char* params, const char* workDir) = 0;
};

// ---- One run ----------------------------------------------------------------

enum class UnzipOutcome {
    Unzipped,        // every entry extracted
    UnzipFailed,     // the archive opened, but the target folder or some entries failed
    Cancelled,       // no password entered: nothing said
    WrongPassword,   // "Incorrect password." shown
    OpenFailed,      // "Failed to open embedded zip." shown
};

class StubSession {
public:
    StubSession(const StubParameters& params, StubUi& ui);

    // Open and unzip into target (the password dialog when encrypted, the
    // check, the archive, the unzip). Says nothing on success; shows the
    // messages of the failures it names (a failed unzip is reported by the
    // callers below, which know the folder). An encrypted self-extractor
    // that can never open (an "encrypted" resource that is not well formed
    // or names a key length other than 128, 192 or 256, or no "zip") gives
    // "Failed to open embedded zip." without asking for a password. The
    // typed password also opens entries encrypted inside the archive.
    UnzipOutcome openAndUnzip(const char* target);

    // The automatic unzip: the preset folder or a new temporary one, then
    // the "autotemp" program when not empty and everything was unzipped.
    // A failed unzip is shown (StubText::unzipFailed) and starts nothing.
    UnzipOutcome runAutomatic();

    // The unzip dialog's Unzip button with the folder typed: status texts,
    // the unzip, then the success message or the "autorun" program; a
    // failed unzip shows the failure report and starts nothing.
    UnzipOutcome runInteractive(const char* folder);

    // The target of the automatic unzip: the "unzipDir" text when not
    // empty, otherwise the unique temporary name for "vkz" (vkz.tmp,
    // vkz_2.tmp, ...) in the system temporary folder followed directly by
    // the tick count in lower-case hexadecimal.
    std::string automaticTarget() const;

    // The entries that failed in the last unzip (entry, reason). The names
    // are in the system code page, ready to show; an empty name stands for
    // the target folder itself.
    const std::vector<std::pair<std::string, std::string>>& failures() const { return failures_; }
    // Why the last open failed, in the reader's or the payload's words
    // (not shown by the stub; for logs and the command line). Empty after
    // a successful open.
    const std::string& openError() const { return openError_; }
    // How openAndUnzip treats files already in the target. The stub keeps
    // the default (existing files are replaced); the command line that
    // unpacks a self-extractor sets its own rule.
    void setExtractOptions(const ZipExtractOptions& options) { extractOptions_ = options; }
    // Existing files kept and refused by the last unzip, and its warnings
    // (names as the reader gave them).
    uint32_t skipped() const { return skipped_; }
    uint32_t refusedExisting() const { return refusedExisting_; }
    const std::vector<ZipExtractResult::Failure>& warnings() const { return warnings_; }

private:
    UnzipOutcome openFailed(const std::string& why);
    void startProgram(const std::string& path, const char* workDir);

    const StubParameters& params_;
    StubUi& ui_;
    std::vector<std::pair<std::string, std::string>> failures_;
    std::string openError_;
    ZipExtractOptions extractOptions_;
    uint32_t skipped_ = 0, refusedExisting_ = 0;
    std::vector<ZipExtractResult::Failure> warnings_;
};

// The temporary target in a given folder: the first free name of vkz.tmp,
// vkz_2.tmp, ... there, followed directly by tickCount in lower-case
// hexadecimal. StubSession::automaticTarget uses the system temporary
// folder and the system tick count.
std::string temporaryUnzipTarget(const char* tempFolder, uint32_t tickCount);

// The program path of the interactive run: the folder, a "\" unless the
// folder already ends in "/" or "\", and the program; the program alone
// when the folder is empty (the unzip went into the current folder). The
// automatic run always joins with "\".
std::string interactiveProgramPath(const char* folder, const char* program);
