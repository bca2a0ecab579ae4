#include "sfxbuilder/extract_stub.h"

#include <memory>

#include "exeimage/exe_image.h"
#include "sfxbuilder/sfx_settings.h"
#include "support/file_sys.h"
#include "support/log_base.h"
#include "support/platform.h"
#include "support/string_buffer.h"

namespace {

// Base name of the stub copy; FileSys turns it into tln_2.tmp, tln_3.tmp,
// ... when the name is taken.
const char kStubCopyName[] = "tln.tmp";

// writeUniqueTempFile with the folder given: the same exclusive creation,
// the same messages, and no partly written copy left behind.
bool writeUniqueFileIn(const char* folder, const uint8_t* data, uint32_t size, StringBuffer& outPath,
                       LogBase& log) {
    platform::FileHandle h = FileSys::createUniqueFile(folder, kStubCopyName, outPath, &log);
    if (h == platform::kInvalidFile) return false;
    uint32_t written = 0;
    bool ok = platform::writeFile(h, data, size, &written) && written == size;
    if (!ok) {
        uint32_t code = platform::lastError();
        log.logData("filename", outPath.str());
        logSystemError(log, code);
        log.logError("Failed to write complete file (1)");
    }
    platform::closeFile(h);
    if (!ok) platform::deleteFile(outPath.str());
    return ok;
}

// Finds the stub in a loaded module and writes it out. A null folder means
// the system temporary folder. On failure outPath is emptied, so that a
// caller who deletes "the copy" never deletes a name it does not own.
bool writeStubCopy(ExeImage* module, uint16_t id, const char* folder, StringBuffer& outPath, LogBase& log) {
    outPath.clear();
    if (!module) return false;  // the loader has logged why
    std::unique_ptr<ExeImage> owned(module);
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    if (!findStubResource(*module, id, &data, &size)) return false;
    bool ok = folder ? writeUniqueFileIn(folder, data, size, outPath, log)
                     : FileSys::writeUniqueTempFile(kStubCopyName, data, size, outPath, &log);
    if (!ok) outPath.clear();
    return ok;
}

// The test hooks treat a missing folder as "the system's".
const char* folderOrNull(const char* folder) { return folder && *folder ? folder : nullptr; }

}  // namespace

bool extractStub(const char* modulePath, uint16_t id, StringBuffer& outPath, LogBase* log) {
    LogBase& lg = logOrNull(log);
    return writeStubCopy(ExeImage::loadFromFile(modulePath, &lg), id, nullptr, outPath, lg);
}

bool extractStubIn(const char* modulePath, uint16_t id, const char* tempFolder, StringBuffer& outPath,
                   LogBase* log) {
    LogBase& lg = logOrNull(log);
    return writeStubCopy(ExeImage::loadFromFile(modulePath, &lg), id, folderOrNull(tempFolder), outPath, lg);
}

bool buildFromStubCopy(const char* stubCopyPath, const SfxSettings& settings, const char* zipPath,
                       const char* outPath, LogBase* log, const char* tempFolder) {
    LogBase& lg = logOrNull(log);
    bool ok = false;
    ExeImage* image = ExeImage::loadFromFile(stubCopyPath, &lg);
    if (image) {
        ok = buildSelfExtractor(image, settings, zipPath, outPath, &lg, tempFolder);
        // Unmaps and closes the copy, which can then be deleted (Windows
        // refuses to delete a mapped file).
        delete image;
    }
    if (stubCopyPath && *stubCopyPath) platform::deleteFile(stubCopyPath);
    return ok;
}
