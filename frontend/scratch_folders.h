// The desktop program's scratch folders and the few file operations its
// commands need beyond the engine: the listed files are copied flat into
// the first scratch folder, which the engine then packs.
//
// Each running copy of the program gets folders of its own, below the
// user's temporary folder (which the user can write to), in a parent made
// exclusively under a random name, so two copies never share a file; the
// parent goes with its files when the program ends.
#pragma once

#include <string>

class ScratchFolders {
public:
    // parent: where the run's folder is made; empty means the system's
    // temporary folder for this user.
    explicit ScratchFolders(const std::string& parent = "");
    ~ScratchFolders();  // removes the run's folder and everything in it
    ScratchFolders(const ScratchFolders&) = delete;
    ScratchFolders& operator=(const ScratchFolders&) = delete;

    // "<run folder>\Orvantatemp" and "<run folder>\Orvantateam"; made when
    // first needed (ensure). Empty when no run folder could be made.
    const std::string& first() const { return first_; }
    const std::string& second() const { return second_; }
    // Makes the folder if it is missing; false when it cannot be made.
    static bool ensure(const std::string& folder);

private:
    std::string root_, first_, second_;
};

namespace fileops {

bool folderExists(const std::string& path);
bool fileExists(const std::string& path);
// Deletes every file directly in folder, read-only ones too; folders and
// failures are passed over.
void deleteFilesIn(const std::string& folder);
// Copies a file to `to`, replacing a file there, with the source's
// last-write time; the copy is made under a temporary name beside `to`
// and renamed into place. False with *error (the reason) on failure.
bool copyFileOver(const std::string& from, const std::string& to, std::string* error);
// The text after the last separator ("\" or "/"), the whole path without one.
std::string fileNameOf(const std::string& path);
// The part before the last separator, without it; the whole path without one.
std::string folderOf(const std::string& path);

}  // namespace fileops
