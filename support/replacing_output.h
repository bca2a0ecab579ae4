// An output file written under a temporary name beside its final one and
// put in place by one rename when it is complete. Until then, and whenever
// the writing fails or is given up, a file of the final name stays exactly
// as it was, and no temporary is left behind (an interrupt removes it too,
// see platform::removeTemporaryOnInterrupt).
#pragma once

#include <string>

#include "support/platform.h"

class ReplacingOutput {
public:
    ReplacingOutput() = default;
    ~ReplacingOutput();  // abandons a temporary that was not committed
    ReplacingOutput(const ReplacingOutput&) = delete;
    ReplacingOutput& operator=(const ReplacingOutput&) = delete;

    // Creates a new, empty temporary file in target's folder and keeps it
    // open for writing. It gets the permissions of the file it is to
    // replace, when there is one. Refuses a target that is a folder, a
    // read-only file, or neither a file nor a link (a device, a pipe): the
    // rename would replace it. False with *error naming target and the
    // reason.
    bool begin(const char* target, std::string* error);

    bool active() const { return !temporary_.empty(); }
    const std::string& target() const { return target_; }
    const std::string& path() const { return temporary_; }  // the temporary
    // The open temporary; kInvalidFile once closeFile() or commit() ran.
    platform::FileHandle file() const { return file_; }
    // Closes the temporary so that a writer of its own can open path().
    void closeFile();
    // The temporary's identity, and the identity of the file it is to
    // replace (not valid when none existed at begin()).
    const platform::FileId& id() const { return id_; }
    const platform::FileId& replacedId() const { return replacedId_; }
    // Is id the temporary or the file it replaces?
    bool isOutput(const platform::FileId& id) const { return id == id_ || id == replacedId_; }

    // Closes the temporary and renames it over target. On failure the
    // temporary is removed, target left alone, and *error says why.
    bool commit(std::string* error);
    // Closes and removes the temporary; target stays as it was.
    void abandon();

private:
    void forget();

    std::string target_, temporary_;
    platform::FileHandle file_ = platform::kInvalidFile;
    platform::FileId id_, replacedId_;
};
