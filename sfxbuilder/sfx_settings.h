// One self-extractor as its callers ask for it, and the build that makes
// it. The builder's COM object fills the value from its properties and the
// arguments of its build methods, the command-line tool from its options,
// the desktop engine from its windows; each hands it, with the zip file and
// the output name, to buildSelfExtractor, which runs the worker's variant
// that the settings amount to.
#pragma once

#include <string>

class ExeImage;
class LogBase;

struct SfxSettings {
    std::string title;         // "appTitle": the title of the stub's windows
    std::string caption;       // "progressCaption": the text above the unzip progress
    std::string unzipDir;      // "unzipDir": the folder it unzips into without asking
    bool runProgram = false;   // start a program from the archive afterwards
    std::string program;       // its path inside the archive (an empty one is written too)
    bool runInPlace = false;   // "autorun": started after an unzip through the dialog;
                               // otherwise "autotemp": unzip on its own, then start it
    std::string params;        // "autoParams": the program's command line
    bool silent = false;       // "noInterface": no window at all
    std::string iconFile;      // .ico that replaces the stub's icon (unusable: left out)
    bool encrypt = false;      // encrypt the payload with the password (an empty one too)
    std::string password;
    int keyBits = 256;         // as the caller gives it; the build maps it to 128, 192 or 256

    // The builder method these settings amount to, which also names the
    // build's log context: "CreateExe" (plain), "CreateExe2" (a program),
    // "CreateExe3" (encrypted), "CreateExe4" (encrypted with a program).
    const char* methodName() const;
};

// Puts the settings and the zip file into an opened stub image and writes
// the self-extractor to outPath (the image's resources are changed). False
// with the reason in the log, as the worker (TollanImpl) reports it. The
// encrypted payload's temporary file goes to tempFolder (null: the system
// temporary folder) and is removed whatever happens.
bool buildSelfExtractor(ExeImage* stub, const SfxSettings& settings, const char* zipPath, const char* outPath,
                        LogBase* log, const char* tempFolder = nullptr);
