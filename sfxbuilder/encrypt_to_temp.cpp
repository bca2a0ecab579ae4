#include "sfxbuilder/encrypt_to_temp.h"

#include "crypto/easy_crypt.h"
#include "exeimage/exe_image.h"
#include "sfxformat/sfx_format.h"
#include "support/log_base.h"
#include "support/platform.h"
#include "support/string_buffer.h"

int mapPayloadKeyLength(int requestedBits) {
    if (requestedBits <= 128) return 128;
    if (requestedBits <= 192) return 192;
    return 256;
}

bool encryptToTemp(ExeImage& image, const char* zipPath, const char* password, int keyBits,
                   StringBuffer& tempPath, LogBase* log) {
    char dir[800];
    if (platform::tempDirectory(dir, sizeof dir) == 0) dir[0] = 0;
    return encryptToTempIn(image, zipPath, password, keyBits, dir, tempPath, log);
}

bool encryptToTempIn(ExeImage& image, const char* zipPath, const char* password, int keyBits,
                     const char* tempFolder, StringBuffer& tempPath, LogBase* logp) {
    LogBase& log = logOrNull(logp);
    tempPath.clear();
    if (!zipPath) {
        log.logError("No Zip filename in Tollan/encrypt-to-temp");
        return false;
    }
    if (!password) {
        log.logError("No Zip password in Tollan/encrypt-to-temp");
        return false;
    }
    int effectiveBits = mapPayloadKeyLength(keyBits);

    // The password check always uses AES-256, whatever the payload key.
    EncryptedResource check;
    check.keyBits = uint32_t(effectiveBits);
    if (!EasyCrypt::makeCheckBlock(password, check.checkBlock)) {
        log.logError("Failed to make the password check block");
        return false;
    }
    uint8_t resource[kEncryptedResourceSize];
    encodeEncryptedResource(check, resource);
    if (!image.addNamedData(SfxResource::kEncrypted, resource, sizeof resource, &log)) return false;

    char path[800];
    if (!tempFolder || !*tempFolder ||
        platform::createUniqueTempFile(tempFolder, "vkenc", path, sizeof path) == 0) {
        logSystemError(log, platform::lastError());
        log.logError("Failed to create a temporary file for the encrypted zip");
        return false;
    }
    if (!EasyCrypt::encryptFile(kAlgorithmAes, effectiveBits, password, zipPath, path, &log)) {
        platform::deleteFile(path);
        return false;
    }
    tempPath.assign(path);
    return true;
}
