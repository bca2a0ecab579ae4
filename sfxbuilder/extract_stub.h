// The builder DLL's way to its stub: the stub is the first resource of the
// named type "VARNOCK" (id 218) of its own module file, copied out to a
// temporary file that the build then loads. Also the whole build as the
// COM methods run it after the copy exists.
#pragma once

#include <cstdint>

#include "sfxformat/sfx_format.h"  // the stub's resource type and ids, findStubResource

class LogBase;
class StringBuffer;
struct SfxSettings;

// Loads the module (from its file), finds the stub and writes it to a new
// unique temporary file "tln.tmp" (tln_2.tmp, ... when taken, created
// exclusively). outPath receives the copy's path; on failure it is empty
// and no copy, not even a partly written one, is left.
bool extractStub(const char* modulePath, uint16_t id, StringBuffer& outPath, LogBase* log);
// The same with the folder for the copy given instead of the system
// temporary folder (tests; a null or empty folder means the system's).
bool extractStubIn(const char* modulePath, uint16_t id, const char* tempFolder, StringBuffer& outPath,
                   LogBase* log);

// The sequence of one build method after the stub copy exists: load the
// copy, build the settings into it (buildSelfExtractor), destroy the image,
// delete the copy (whatever happened). The log context is the caller's.
bool buildFromStubCopy(const char* stubCopyPath, const SfxSettings& settings, const char* zipPath,
                       const char* outPath, LogBase* log, const char* tempFolder = nullptr);
