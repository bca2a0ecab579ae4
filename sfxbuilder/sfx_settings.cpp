#include "sfxbuilder/sfx_settings.h"

#include "sfxbuilder/tollan_impl.h"

const char* SfxSettings::methodName() const {
    if (encrypt) return runProgram ? "CreateExe4" : "CreateExe3";
    return runProgram ? "CreateExe2" : "CreateExe";
}

bool buildSelfExtractor(ExeImage* stub, const SfxSettings& s, const char* zipPath, const char* outPath,
                        LogBase* log, const char* tempFolder) {
    // The worker lives for this build only and gets the settings as they
    // are now.
    TollanImpl worker;
    worker.appTitle.assign(s.title.c_str());
    worker.progressCaption.assign(s.caption.c_str());
    worker.unzipDir.assign(s.unzipDir.c_str());
    worker.autoParams.assign(s.params.c_str());
    worker.iconFile.assign(s.iconFile.c_str());
    worker.noInterface = s.silent;
    if (tempFolder) worker.tempFolder.assign(tempFolder);
    const char* program = s.runProgram ? s.program.c_str() : nullptr;
    const bool fromTemp = !s.runInPlace;
    if (s.encrypt) {
        return program ? worker.buildEncryptedWithProgram(stub, zipPath, s.keyBits, s.password.c_str(), program,
                                                          fromTemp, outPath, log)
                       : worker.buildEncrypted(stub, zipPath, s.keyBits, s.password.c_str(), outPath, log);
    }
    return program ? worker.buildWithProgram(stub, zipPath, program, fromTemp, outPath, log)
                   : worker.buildPlain(stub, zipPath, outPath, log);
}
