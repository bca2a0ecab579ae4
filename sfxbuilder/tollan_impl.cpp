#include "sfxbuilder/tollan_impl.h"

#include <cstring>
#include <string>

#include "exeimage/exe_image.h"
#include "sfxbuilder/encrypt_to_temp.h"
#include "sfxbuilder/icon_resource.h"
#include "sfxformat/sfx_format.h"
#include "support/file_sys.h"
#include "support/log_base.h"
#include "support/platform.h"

namespace {

// The program to run after extraction, for the variants that have one.
struct ProgramToRun {
    const char* text;
    bool runFromTemp;  // "autotemp" (true) or "autorun" (false)
};

bool present(const void* value, const char* message, LogBase& log) {
    if (value) return true;
    log.logError(message);
    return false;
}

// Text resources are the ANSI bytes and one zero byte.
void addText(ExeImage& image, const char* name, const char* text, LogBase& log) {
    image.addNamedData(name, text, uint32_t(std::strlen(text)) + 1, &log);
}

void addTextIfSet(ExeImage& image, const char* name, const StringBuffer& text, LogBase& log) {
    if (!text.isEmpty()) addText(image, name, text.str(), log);
}

// The settings, each only when set, and the program (when the variant has
// one), in the order the format gives; "encrypted" and "zip" are added by
// steps of their own. A parameter that cannot be added does not fail the
// build.
void addParameters(const TollanImpl& w, ExeImage& image, const ProgramToRun* program, bool encrypted,
                   LogBase& log) {
    for (SfxParameter p : sfxWriteOrder(encrypted)) {
        const char* name = sfxParameterName(p, program && program->runFromTemp);
        switch (p) {
            case SfxParameter::Program:
                // Written even when empty (one zero byte): the name alone
                // tells the stub where to run it from.
                if (program) addText(image, name, program->text ? program->text : "", log);
                break;
            case SfxParameter::AppTitle: addTextIfSet(image, name, w.appTitle, log); break;
            case SfxParameter::ProgressCaption: addTextIfSet(image, name, w.progressCaption, log); break;
            case SfxParameter::UnzipDir: addTextIfSet(image, name, w.unzipDir, log); break;
            case SfxParameter::AutoParams: addTextIfSet(image, name, w.autoParams, log); break;
            case SfxParameter::NoInterface:
                if (w.noInterface)
                    image.addNamedData(name, SfxResource::kNoInterfaceValue, sizeof SfxResource::kNoInterfaceValue,
                                       &log);
                break;
            case SfxParameter::Encrypted:
            case SfxParameter::Zip: break;
        }
    }
}

// The icon (its failures never fail a build), then the output.
bool finish(const TollanImpl& w, ExeImage& image, const char* outPath, LogBase& log) {
    if (!w.iconFile.isEmpty()) IconResource().replaceIcon(image, w.iconFile.str());
    return image.writeToFile(outPath, nullptr, &log);
}

// Writing the output over the zip would truncate the zip before its bytes
// are streamed into the output: the build would fail and the archive be
// lost.
bool outputIsZip(const char* zipPath, const char* outPath) {
    platform::FileHandle h = platform::openFile(zipPath, platform::OpenMode::ReadExisting);
    if (h == platform::kInvalidFile) return false;
    bool same = platform::sameFile(h, outPath);
    platform::closeFile(h);
    return same;
}

// A payload larger than the stub's machine can map would make an
// executable that cannot start: refused before anything is written. The
// encrypted payload is up to 32 bytes longer than the zip.
bool payloadFits(const ExeImage& image, const char* zipPath, bool encrypted, LogBase& log) {
    platform::FileHandle h = platform::openFile(zipPath, platform::OpenMode::ReadExisting);
    uint64_t size = 0;
    bool measured = h != platform::kInvalidFile && platform::fileSize(h, &size);
    if (h != platform::kInvalidFile) platform::closeFile(h);
    if (!measured) return true;  // the copy step reports what is wrong with the file
    const bool pe32Plus = image.ntHeaders().isPe32Plus();
    const uint64_t limit = maxPayloadSize(pe32Plus) - (encrypted ? 32 : 0);
    if (size <= limit) return true;
    log.logError((std::string("Zip file is too large for a ") + (pe32Plus ? "64" : "32") + "-bit self-extractor: " +
                  std::to_string(size) + " bytes, at most " + std::to_string(limit))
                     .c_str());
    log.logData("filename", zipPath);
    return false;
}

bool buildUnencrypted(const TollanImpl& w, ExeImage* image, const char* zipPath, const ProgramToRun* program,
                      const char* outPath, LogBase& log) {
    if (!present(image, "No stub image", log) || !present(zipPath, "No Zip filename", log) ||
        !present(outPath, "No EXE filename", log))
        return false;
    if (program && !present(program->text, "No program to run", log)) return false;
    if (!FileSys::fileExists(zipPath, &log) || !payloadFits(*image, zipPath, false, log)) return false;
    if (outputIsZip(zipPath, outPath)) {
        log.logError("Output file is the Zip file");
        log.logData("filename", outPath);
        return false;
    }
    image->removeNamed(SfxResource::kZip);
    addParameters(w, *image, program, false, log);
    if (!image->addNamedFile(SfxResource::kZip, zipPath, &log)) return false;
    return finish(w, *image, outPath, log);
}

bool buildWithEncryption(const TollanImpl& w, ExeImage* image, const char* zipPath, int keyBits,
                         const char* password, const ProgramToRun* program, const char* outPath, LogBase& log) {
    if (!present(image, "No stub image", log) || !present(zipPath, "No Zip filename", log) ||
        !present(outPath, "No EXE filename", log) || !present(password, "No Zip password", log))
        return false;
    const int bits = mapPayloadKeyLength(keyBits);
    if (!FileSys::fileExists(zipPath, &log) || !payloadFits(*image, zipPath, true, log)) return false;

    // Adds "encrypted"; on failure it leaves no temporary file.
    StringBuffer temp;
    bool ok = w.tempFolder.isEmpty()
                  ? encryptToTemp(*image, zipPath, password, bits, temp, &log)
                  : encryptToTempIn(*image, zipPath, password, bits, w.tempFolder.str(), temp, &log);
    if (!ok) return false;

    image->removeNamed(SfxResource::kZip);
    addParameters(w, *image, program, true, log);
    ok = image->addNamedFile(SfxResource::kZip, temp.str(), &log) && finish(w, *image, outPath, log);
    platform::deleteFile(temp.str());
    return ok;
}

}  // namespace

bool TollanImpl::buildPlain(ExeImage* image, const char* zipPath, const char* outPath, LogBase* log) {
    return buildUnencrypted(*this, image, zipPath, nullptr, outPath, logOrNull(log));
}

bool TollanImpl::buildWithProgram(ExeImage* image, const char* zipPath, const char* program, bool runFromTemp,
                                  const char* outPath, LogBase* log) {
    ProgramToRun p{program, runFromTemp};
    return buildUnencrypted(*this, image, zipPath, &p, outPath, logOrNull(log));
}

bool TollanImpl::buildEncrypted(ExeImage* image, const char* zipPath, int keyBits, const char* password,
                                const char* outPath, LogBase* log) {
    return buildWithEncryption(*this, image, zipPath, keyBits, password, nullptr, outPath, logOrNull(log));
}

bool TollanImpl::buildEncryptedWithProgram(ExeImage* image, const char* zipPath, int keyBits, const char* password,
                                           const char* program, bool runFromTemp, const char* outPath,
                                           LogBase* log) {
    ProgramToRun p{program ? program : "", runFromTemp};
    return buildWithEncryption(*this, image, zipPath, keyBits, password, &p, outPath, logOrNull(log));
}
