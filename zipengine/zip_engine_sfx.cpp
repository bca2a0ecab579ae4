// The self-extractor side of the engine: its settings and the write
// through the builder's pipeline.
#include "zipengine/zip_engine.h"

void ZipEngine::setRunFromTemporaryFolder(bool on) { runFromTemp_ = on; }

void ZipEngine::setUnzipFolder(const std::string& folder) { unzipFolder_ = folder; }

void ZipEngine::setRunProgram(bool on) { runProgram_ = on; }

void ZipEngine::setIconFile(const std::string& path) { iconFile_ = path; }

void ZipEngine::setProgramToRun(const std::string& name) { program_ = name; }

void ZipEngine::setEncryption(bool on) { encrypt_ = on; }

void ZipEngine::setKeyLength(int bits) { keyBits_ = bits; }

void ZipEngine::writeSelfExtractor(const std::string& path) {
    needArchive("writeSelfExtractor");
    throw ZipEngineError(ZipEngineError::Failed, "self-extractors are not written yet: " + path);
}
