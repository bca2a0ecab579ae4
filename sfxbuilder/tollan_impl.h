// The build worker: puts the caller's settings, the (optionally
// encrypted) zip archive and the icon into an opened copy of the stub and
// writes the self-extracting executable. One worker per build, on the
// stack; the settings are copied in by the caller.
#pragma once

#include "support/string_buffer.h"

class ExeImage;
class LogBase;

class TollanImpl {
public:
    StringBuffer autoParams;       // "autoParams"
    StringBuffer progressCaption;  // "progressCaption"
    StringBuffer unzipDir;         // "unzipDir"
    StringBuffer appTitle;         // "appTitle"
    StringBuffer iconFile;         // icon replacement (.ico path)
    bool noInterface = false;      // "noInterface"
    // Where the encrypted variants put the encrypted payload's temporary
    // file; empty means the system temporary folder (tests give their own).
    StringBuffer tempFolder;

    // Each returns the result of the final write; the log holds why a
    // build failed. Absent (null) paths and passwords fail the build, as
    // does a null program in buildWithProgram; buildEncryptedWithProgram
    // takes a null program as an empty one. The encrypted variants delete
    // their temporary payload file whatever happens. The unencrypted
    // variants refuse an output that is the zip file itself (writing it
    // would truncate the zip before its bytes are copied).
    bool buildPlain(ExeImage* image, const char* zipPath, const char* outPath, LogBase* log);
    bool buildWithProgram(ExeImage* image, const char* zipPath, const char* program, bool runFromTemp,
                          const char* outPath, LogBase* log);
    bool buildEncrypted(ExeImage* image, const char* zipPath, int keyBits, const char* password,
                        const char* outPath, LogBase* log);
    bool buildEncryptedWithProgram(ExeImage* image, const char* zipPath, int keyBits, const char* password,
                                   const char* program, bool runFromTemp, const char* outPath, LogBase* log);
};
