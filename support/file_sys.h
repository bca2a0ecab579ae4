// FileSys: file existence, size, whole-file writing, and unique names in
// a folder. Failures are reported through the log with the system's error
// text. Unique temporary files are created exclusively, so two builds (or
// two processes) never end up sharing one.
#pragma once

#include <cstdint>

#include "support/platform.h"

class LogBase;
class StringBuffer;

namespace FileSys {

bool fileExists(const char* path, LogBase* log);
uint32_t getFileSize(const char* path, LogBase* log, bool* ok);
bool writeFile(const char* path, const void* data, uint32_t length, LogBase* log);
// The first name of directory + name, directory + base_2.ext, base_3.ext, ...
// that does not exist now. Nothing is created; prefer createUniqueFile.
void makeUniquePath(const char* directory, const char* fileName, StringBuffer& out);
// Like makeUniquePath, but the chosen name is created exclusively: when
// another process wins a name, the search goes on. The new, empty file is
// returned open for writing.
platform::FileHandle createUniqueFile(const char* directory, const char* fileName,
                                      StringBuffer& outPath, LogBase* log);
// Writes the data to a new unique file in the system temporary folder.
bool writeUniqueTempFile(const char* fileName, const void* data, uint32_t length,
                         StringBuffer& outPath, LogBase* log);
// The system temporary folder, ending in a separator.
bool tempDirectory(StringBuffer& out);

}  // namespace FileSys
