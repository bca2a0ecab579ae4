// What the archive verbs (zip, list, unzip) share: their command line,
// names as the terminal shows them, and the progress line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zip/zip_archive.h"
#include "zip/zip_extract.h"

namespace cli {


// The command line split into option values and the other arguments.
struct Arguments {
    std::vector<std::string> paths;
    bool recursive = false;
    int level = 6;
    bool havePassword = false;     // from -p/--password, --password-file or -e
    std::string password;
    std::string passwordFile;      // --password-file, read by obtainPassword
    bool encrypt = false;          // -e: asked by obtainPassword
    bool aes = false, zipCrypto = false;
    bool haveFolder = false;
    std::string folder;
    bool overwrite = false, keepExisting = false;  // -o, -n
};

// allowed: the option letters this verb takes ('r', 'l', 'd', 'o', 'n';
// 'p' for -p/--password and --password-file, 'E' for -e/--encrypt, 'c'
// for --aes/--zipcrypto). False with *problem set on a bad command line.
bool parseArguments(int argc, char** argv, const char* allowed, Arguments* a, std::string* problem);
// The password the options name: a password file's first line, or typed
// at the terminal for -e (twice with confirm). False after saying why on
// standard error (prefixed with verb).
bool obtainPassword(Arguments* a, bool confirm, const char* verb);

// A password typed at the terminal without echo; with confirm, typed twice
// and compared. False with *problem set when standard input is no
// terminal, input ended, or the two differ.
bool askPassword(const std::string& prompt, bool confirm, std::string* password, std::string* problem);
// The first line of a file (without its line end). False with *problem.
bool readPasswordFile(const std::string& path, std::string* password, std::string* problem);
// When no password was given and an entry of the archive is encrypted:
// asks for one on a terminal, as unzip tools do (elsewhere nothing
// happens and the entries fail with their reason).
void askForEntryPassword(const ZipReader& reader, const std::string& path, Arguments* a);

// Text from the command line or the file system (system code page) as
// UTF-8, the encoding of entry names.
std::string toUtf8(const std::string& local);
// An entry name for display: in the system code page when it has every
// character, else the UTF-8 bytes.
std::string forDisplay(const std::string& utf8);

// Text for a terminal: control characters (C0, DEL, and the C1 range
// when it stands as UTF-8) become visible escapes ("\n", "\x1b",
// "\u009b"), so that names and stored strings cannot move the cursor,
// clear the screen or hide text. Backslashes stay as they are (Windows
// paths are full of them).
std::string printable(const std::string& text);

bool isSeparator(char c);
std::string joinPath(const std::string& folder, const std::string& name);

// The rule for files that already exist where an extraction writes: -o
// replaces, -n keeps them; otherwise a terminal is asked (through the
// question given) and anything else refuses. The archive being read
// (archivePath) is never replaced.
ZipExtractOptions extractOptions(bool overwrite, bool keepExisting, const std::string& archivePath,
                                 ZipOverwriteQuestion* question);
// Asks on the terminal: "replace PATH? [y]es, [n]o, [A]ll, [N]one: ".
class TerminalQuestion : public ZipOverwriteQuestion {
public:
    Answer ask(const std::string& path) override;
};
// After an extraction: the warnings, and a hint when existing files were
// refused. verb prefixes the lines ("orvanta unzip").
void reportExtraction(const char* verb, const ZipExtractResult& r);

// Opens an archive for a verb; false after saying why on standard error
// (the system's reason when the file cannot be opened, the reader's when
// it is no zip archive).
bool openArchive(ZipReader& reader, const std::string& path, const char* verb);

// Terminal progress on standard error: one line, rewritten.
class ProgressLine {
public:
    ProgressLine();
    ~ProgressLine() { clear(); }
    void show(const std::string& text);
    void clear();

private:
    bool enabled_;
    bool shown_ = false;
    uint32_t last_ = 0;
};

}  // namespace cli
