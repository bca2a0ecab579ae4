// Getting the stub out of the module that carries it: the stub is the
// first resource of the named type "VARNOCK" (id 218) of a PE module (the
// builder's own file; for the command-line tool, a carrier image built
// into it). Also the whole build as the COM methods run it, so that the
// COM object and the command-line tool share one sequence.
#pragma once

#include <cstdint>

class ExeImage;
class LogBase;
class StringBuffer;
struct SfxSettings;

constexpr uint16_t kStubResourceId = 218;    // the PE32 stub
constexpr uint16_t kStub64ResourceId = 219;  // the x86_64 stub (command-line tool only)
extern const char* const kStubResourceType;  // "VARNOCK"

// The first language of resource `id` of the named type "VARNOCK"; with id
// 0, the first resource of the type. False (nothing logged) when missing.
bool findStubResource(ExeImage& module, uint16_t id, const uint8_t** data, uint32_t* size);

// Loads the module (from its file), finds the stub and writes it to a new
// unique temporary file "tln.tmp" (tln_2.tmp, ... when taken, created
// exclusively). outPath receives the copy's path; on failure it is empty
// and no copy, not even a partly written one, is left.
bool extractStub(const char* modulePath, uint16_t id, StringBuffer& outPath, LogBase* log);
// The same from a module image already in memory.
bool extractStubFromMemory(const uint8_t* module, uint32_t size, uint16_t id, StringBuffer& outPath, LogBase* log);
// Both with the folder for the copy given instead of the system temporary
// folder (tests; a null or empty folder means the system's).
bool extractStubIn(const char* modulePath, uint16_t id, const char* tempFolder, StringBuffer& outPath,
                   LogBase* log);
bool extractStubFromMemoryIn(const uint8_t* module, uint32_t size, uint16_t id, const char* tempFolder,
                             StringBuffer& outPath, LogBase* log);

// The sequence of one build method after the stub copy exists: load the
// copy, build the settings into it (buildSelfExtractor), destroy the image,
// delete the copy (whatever happened). The log context is the caller's.
bool buildFromStubCopy(const char* stubCopyPath, const SfxSettings& settings, const char* zipPath,
                       const char* outPath, LogBase* log, const char* tempFolder = nullptr);
