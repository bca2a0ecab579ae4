// The payload encryption step of an encrypted build: adds the 36-byte
// "encrypted" resource (payload key length, then the password check block)
// to the stub image and writes the encrypted zip to a new temporary file,
// which the caller stores as the "zip" resource and deletes afterwards.
#pragma once

#include <cstdint>

class ExeImage;
class LogBase;
class StringBuffer;

// The payload key length for a requested one: up to 128 gives 128, 129 to
// 192 gives 192, anything above gives 256.
int mapPayloadKeyLength(int requestedBits);

// zipPath and password are ANSI strings; an empty password is a password.
// keyBits should be 128, 192 or 256 (other values are mapped as above).
// On success tempPath holds the encrypted payload's file; on failure no
// temporary file is left and tempPath is emptied (the "encrypted" resource
// may already be in the image, which the caller then discards).
bool encryptToTemp(ExeImage& image, const char* zipPath, const char* password, int keyBits,
                   StringBuffer& tempPath, LogBase* log);
// The same with the folder for the temporary file given (encryptToTemp
// passes the system temporary folder); for tests.
bool encryptToTempIn(ExeImage& image, const char* zipPath, const char* password, int keyBits,
                     const char* tempFolder, StringBuffer& tempPath, LogBase* log);
