// The platform layer: the only place that knows whether it runs on Win32 or
// on a POSIX host. Everything above it (buffers, the PE model, crypto, zip,
// the build pipeline, the stub's logic) calls these functions and nothing
// of <windows.h> or <unistd.h>.
//
// Two implementations: platform_win32.cpp (the product) and
// platform_posix.cpp (native builds for fast tests and the Linux tool).
// On POSIX the "system ANSI code page" is UTF-8 and error texts come from
// strerror; error codes are errno values there and GetLastError values on
// Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

// ---- Files -------------------------------------------------------------

using FileHandle = intptr_t;
constexpr FileHandle kInvalidFile = -1;

enum class OpenMode {
    ReadExisting,   // read only, others may read too, file must exist
    CreateAlways,   // write only, not shared, replaces an existing file
    CreateNew,      // write only, not shared, fails when the name exists
    WriteExisting,  // read and write, not shared, file must exist
};

// Returns kInvalidFile on failure; lastError() then tells why.
FileHandle openFile(const char* path, OpenMode mode);
// Reads up to n bytes; *got receives the count (0 at end of file).
bool readFile(FileHandle h, void* buf, uint32_t n, uint32_t* got);
// Writes n bytes; *written receives the count actually written.
bool writeFile(FileHandle h, const void* buf, uint32_t n, uint32_t* written);
bool seekFile(FileHandle h, uint64_t pos);
// Makes the file end at size (cutting or extending it) and moves the
// position there.
bool truncateFile(FileHandle h, uint64_t size);
bool tellFile(FileHandle h, uint64_t* pos);
bool fileSize(FileHandle h, uint64_t* size);
void closeFile(FileHandle h);
bool deleteFile(const char* path);
// True when path names the file that h has open (false when it does not
// exist or cannot be examined).
bool sameFile(FileHandle h, const char* path);
bool createDirectory(const char* path);  // one level; fails when it exists
bool removeDirectory(const char* path);  // must be empty

// ---- Folders and names ---------------------------------------------------

// Each writes a zero-terminated path into buf and returns its length, or 0
// when the buffer is too small or the query failed.
uint32_t tempDirectory(char* buf, uint32_t size);    // ends with a separator
// Creates a new, empty file with a unique name in directory, the name
// starting with the first three characters of prefix (the system's
// unique-name service: GetTempFileNameA on Win32, exclusive creation with
// random characters on POSIX). Writes its full path into buf and returns
// the path's length, or 0 on failure (buffer too small, folder missing).
uint32_t createUniqueTempFile(const char* directory, const char* prefix, char* buf, uint32_t size);
uint32_t currentDirectory(char* buf, uint32_t size);
uint32_t modulePath(const void* addressInModule, char* buf, uint32_t size);
bool setCurrentDirectory(const char* path);

// ---- Errors --------------------------------------------------------------

uint32_t lastError();
void setLastError(uint32_t code);
// The system's message text for an error code, zero-terminated, untrimmed.
// Returns its length, 0 when the system has no text for the code.
uint32_t errorText(uint32_t code, char* buf, uint32_t size);
// The system's message for an error code as one line: no trailing line
// break or full stop; "error N" when the system has no text.
inline std::string errorMessage(uint32_t code) {
    char text[512];
    uint32_t n = errorText(code, text, sizeof text);
    std::string s(text, n < sizeof text ? n : 0);
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' ' || s.back() == '.')) s.pop_back();
    return s.empty() ? "error " + std::to_string(code) : s;
}
// Error codes the portable code needs to recognise.
uint32_t errorFileExists();
uint32_t errorFileNotFound();

// ---- Text ----------------------------------------------------------------

// Conversions with the system ANSI code page. Both follow the Win32 rule:
// with outCap 0 they return the needed count (no terminator counted unless
// the input length includes one); otherwise the count written, or 0 on
// failure. Unrepresentable characters become the code page's default
// character.
int ansiToWide(const char* in, int inLen, char16_t* out, int outCap);
int wideToAnsi(const char16_t* in, int inLen, char* out, int outCap);

// Text in the system ANSI code page to UTF-8, with the same rule as above
// (outCap 0 asks for the needed count). On POSIX, where the ANSI code page
// is UTF-8, invalid sequences become U+FFFD so the result is always valid.
int ansiToUtf8(const char* in, int inLen, char* out, int outCap);

// COM strings: length-prefixed UTF-16 owned by the receiver. On Windows a
// real BSTR (SysAllocStringLen); on POSIX the same layout from the heap.
char16_t* allocBstr(const char16_t* text, uint32_t len);
void freeBstr(char16_t* bstr);
uint32_t bstrLength(const char16_t* bstr);

// ---- COM error information ---------------------------------------------

// Installs a COM error object for the calling thread with the given
// description, interface identifier (16 bytes, in GUID memory layout) and
// source; any text may be null (an empty text is used). False when the
// object could not be created. On POSIX the values are only remembered.
bool installErrorInfo(const char16_t* description, const uint8_t guid[16], const char16_t* source);
// Takes the calling thread's installed error object (it is no longer
// installed afterwards) and returns its description and source as BSTRs
// that the caller frees with freeBstr, and its identifier. False when none
// is installed.
bool takeErrorInfo(char16_t** description, uint8_t guid[16], char16_t** source);

// ---- Time ----------------------------------------------------------------

struct LocalTime {
    uint16_t year, month, dayOfWeek, day, hour, minute, second, milliseconds;
};
LocalTime localTime();
uint32_t tickCount();
uint32_t processId();

// Standard output carries bytes unchanged (no newline translation).
void setStdoutBinary();

// ---- Random bytes, file information, folder listing ------------------------

// Fills buf from the system's cryptographic random source (RtlGenRandom on
// Win32, getrandom or /dev/urandom on POSIX). False when it is unavailable.
bool randomBytes(void* buf, size_t n);

struct FileInfo {
    uint64_t size = 0;
    bool isDirectory = false;
    uint32_t attributes = 0;        // MS-DOS attributes (0x01 read-only, 0x10 folder, 0x20 archive, ...)
    uint16_t dosDate = 0, dosTime = 0;  // last write, local time, MS-DOS format
    // POSIX: the Unix mode, type and permission bits (st_mode & 0177777).
    // Win32: 0 (the system has none).
    uint32_t unixMode = 0;
};
// Size, kind, attributes and last-write time of a file or folder.
bool fileInfo(const char* path, FileInfo* info);
// Calls fn for each name in a folder (not "." or ".."), in no particular
// order. False when the folder cannot be read or fn returned false.
bool listDirectory(const char* path, bool (*fn)(void* context, const char* name, bool isDirectory), void* context);

// ---- Extraction: folder chains, times, attributes, names ----------------

// The separator this system prefers in paths it builds ('\\' on Win32).
char pathSeparator();
// Creates a folder and any missing parents ('/' and '\\' separate on
// Win32, '/' on POSIX). True when the folder exists afterwards; false when
// a level cannot be made or exists as a file.
bool createDirectoryChain(const char* path);
// Gives a file or folder an MS-DOS date and time, read as local time and
// converted to UTC as the system's own tools do (Win32: the current bias,
// as LocalFileTimeToFileTime, the inverse of fileInfo; POSIX: mktime), as
// its creation, last-access and last-write time (POSIX keeps no creation
// time). False for an impossible date or time (month 0, 31 February, hour
// 24, ...) or when the system refuses.
bool setFileTimesFromDos(const char* path, uint16_t dosDate, uint16_t dosTime);
// Applies MS-DOS attributes (0x01 read-only, 0x02 hidden, 0x04 system, 0x20
// archive; others ignored). POSIX maps read-only to the write permission
// bits and has nothing for the others.
bool setFileAttributes(const char* path, uint32_t dosAttributes);
// Renames a file, replacing an existing file of the new name.
bool renameReplacing(const char* from, const char* to);
// UTF-8 to the system ANSI code page, with the rule of ansiToWide. Fails
// (returns 0) on invalid UTF-8 and when a character has no exact form in
// the code page: no default character and no look-alike is substituted.
int utf8ToAnsi(const char* in, int inLen, char* out, int outCap);
// True when the stream is a terminal (console) rather than a file or pipe.
bool isTerminal(std::FILE* stream);
// Turns the echo of typed characters on standard input's terminal off or
// on (for passwords). False when standard input is no terminal.
bool setInputEcho(bool on);

// ---- Directory search and double-byte text ---------------------------------

// True when c starts a two-byte character in the system ANSI code page
// (IsDBCSLeadByte on Win32). Always false on POSIX, where the code page is
// UTF-8 and no byte of a multi-byte sequence can be mistaken for a
// separator, a dot or an ASCII letter.
bool isDbcsLeadByte(unsigned char c);

// One entry of a wildcard search, laid out like the Win32 find record.
// Times are FILETIME values (100 ns units since 1601-01-01 UTC).
struct FindRecord {
    // 0x01 read-only, 0x02 hidden, 0x10 folder, 0x20 archive, 0x80 normal, 0x400 reparse point
    uint32_t attributes = 0;
    uint64_t creationTime = 0;
    uint64_t lastAccessTime = 0;
    uint64_t lastWriteTime = 0;
    uint32_t sizeHigh = 0;
    uint32_t sizeLow = 0;
    char name[260] = {};            // zero-terminated, up to 259 characters
    char alternateName[14] = {};    // the 8.3 name when the file system keeps one, else empty
};

using FindHandle = intptr_t;
constexpr FindHandle kInvalidFind = -1;

// Longest pattern findFirst accepts (the ANSI API's MAX_PATH less the
// terminator); a longer one fails.
constexpr size_t kMaxFindPattern = 259;

// A search for the entries of one folder that match the wildcard in the
// last component of pattern ("*" any run of characters, "?" one
// character, ASCII case ignored, "*.*" also matching names without a
// dot). Returns the search with the first record in *out, or kInvalidFind
// when the folder is missing, nothing matches, the last component is empty
// or the pattern is longer than kMaxFindPattern (lastError() tells which).
// Win32: FindFirstFileA. POSIX: "\" and "/" both separate; "." and ".."
// come first except in "/"; attributes are mapped: 0x10 folder, 0x20 for
// a regular file (as Windows marks new files, and as fileInfo does), 0x01
// without the owner's write permission, 0x02 for names starting with "."
// (as Wine shows dot-files), 0x400 for a symbolic link (with the folder or
// file bit of its target), 0x80 when no other bit is set (devices, pipes);
// the creation time is the birth time where the file system keeps one,
// else the last-write time; the alternate name is always empty. Unlike
// Windows, "?" never matches nothing (Windows lets it before a dot or at
// the end) and there are no 8.3 names for a pattern to match.
// With FindScope::Folders the caller keeps only folders: other entries may
// still come (Win32 ignores the hint), but POSIX passes over entries that
// the folder listing already marks as neither a folder nor a link without
// examining them.
enum class FindScope { Everything, Folders };
FindHandle findFirst(const char* pattern, FindRecord* out, FindScope scope = FindScope::Everything);
// The next matching record; false at the end (or on failure).
bool findNext(FindHandle h, FindRecord* out);
void findClose(FindHandle h);

// ---- File times and short names -------------------------------------------

// Calendar fields of a moment, as SYSTEMTIME has them: month 1-12, day of
// week 0 (Sunday) to 6, day of month 1-31.
struct SystemTime {
    uint16_t year, month, dayOfWeek, day, hour, minute, second, milliseconds;
};

// A FILETIME (100 ns units since 1601-01-01) as calendar fields in the
// same time scale, with no time-zone conversion (UTC stays UTC). Fails for
// values from 0x8000000000000000 up, which FileTimeToSystemTime refuses;
// every smaller value converts (the last one falls in the year 30828).
// Win32: FileTimeToSystemTime. POSIX: the same proleptic Gregorian
// calendar computed here, field for field.
bool fileTimeToSystemTime(uint64_t fileTime, SystemTime* out);

// The short (8.3) form of a path, zero-terminated in out, of room bytes.
// Returns the length without the terminator; when out is too small, the
// room needed, terminator included (so more than room, and what out then
// holds is no answer); 0 on failure, lastError() telling why. A relative
// path is resolved against the current folder. Win32: GetShortPathNameA.
// POSIX: file systems there keep no 8.3 names, so it always fails
// (ENOTSUP) and leaves out unchanged.
uint32_t shortPathName(const char* path, char* out, uint32_t room);

// ---- File identity and regular files ------------------------------------------

// Which file a name or handle stands for: device and inode on POSIX,
// volume serial number and file index on Win32. Two names of one file
// (a hard or symbolic link) have the same identity.
struct FileId {
    uint64_t device = 0;
    uint64_t index = 0;
    bool valid = false;
    bool operator==(const FileId& o) const { return valid && o.valid && device == o.device && index == o.index; }
    bool operator!=(const FileId& o) const { return !(*this == o); }
};
// The identity of what path names (a link is followed). False when it
// does not exist or cannot be examined.
bool fileIdOf(const char* path, FileId* id);
bool fileIdOfHandle(FileHandle h, FileId* id);

// Opens a regular file for reading, the link followed: never blocks (a
// FIFO), never a device or folder (lastError() is errorNotRegularFile()
// then). *size receives the size measured on the open file, which is how
// much a reader should take.
FileHandle openRegularFile(const char* path, uint64_t* size);
uint32_t errorNotRegularFile();
// What a name is without following a link at its end.
enum class NodeKind { Missing, File, Folder, Link, Other };
NodeKind nodeKind(const char* path);

// ---- Temporary files removed on interrupt --------------------------------------

// Catches the interrupts a terminal sends (Ctrl+C, hangup, quit,
// termination on POSIX; the console's control events on Win32): each
// removes the temporary file noted at that moment, then ends the process
// as the interrupt would have. Call once, early.
void removeTemporaryOnInterrupt();
// The temporary file to remove on interrupt (one at a time; null clears).
void noteTemporary(const char* path);

// ---- Writing below a folder without following links ----------------------------

// An output tree: files and folders made below a root folder, named by
// relative UTF-8 paths with "/" separators ("docs/a.txt"). The root is
// the caller's choice and may be reached through links; below it no step
// follows a symbolic link, junction or other reparse point: a link met
// on the way fails with errorLinkInPath(), and the last component is
// examined, replaced or changed as itself, never as a link's target.
// Names are Unicode on every system: POSIX uses the bytes as they are;
// Win32 converts from UTF-8 and uses the wide-character API.
// POSIX: a descriptor of the root, openat(O_NOFOLLOW | O_DIRECTORY)
// level by level. Win32: FILE_ATTRIBUTE_REPARSE_POINT checked on every
// level, "\\?\" paths where they are long.
struct NodeInfo {
    NodeKind kind = NodeKind::Missing;
    FileId id;
    // POSIX: the permission bits (mode & 07777). Win32: the attributes.
    uint32_t permissions = 0;
};

class OutputTree {
public:
    OutputTree();
    ~OutputTree();
    OutputTree(const OutputTree&) = delete;
    OutputTree& operator=(const OutputTree&) = delete;

    // Opens an existing folder (system code page path) as the root.
    bool open(const char* root);
    void close();
    // The full path of rel for messages, in the system code page where it
    // has every character.
    std::string displayPath(const char* rel) const;
    // True when every component fits the system's name length and the
    // whole path (root included) its path length; false with lastError()
    // errorNameTooLong() otherwise. Nothing is touched.
    bool fits(const char* rel) const;
    // What rel is (its last component not followed); Missing when absent.
    // False when a parent is a link or not a folder, or examination fails.
    bool examine(const char* rel, NodeInfo* info);
    // Creates rel and every missing folder above it; existing levels must
    // be real folders (not links). True when all exist afterwards.
    bool makeFolders(const char* rel);
    // Creates rel as a new file for writing; the parent must exist. With
    // reuse, an existing regular file of that name (a temporary left by an
    // interrupted run) is truncated and taken; without, an existing name
    // fails with errorFileExists(). Never opens through a link. The file
    // is noted for removal on interrupt until it is renamed or removed.
    FileHandle createFile(const char* rel, bool reuse);
    // Renames from over to (both relative, same folder or not). With
    // replace, an existing file at to (not a folder) is replaced as itself
    // (a link there is replaced, not followed; Win32 lifts a read-only
    // attribute of the replaced file first); without, an existing to fails.
    bool rename(const char* from, const char* to, bool replace);
    // Removes a file (or link) rel.
    bool remove(const char* rel);
    // A folder's MS-DOS time as its times and its attributes (0 leaves
    // the attributes alone), set without following links.
    bool setFolderTimes(const char* rel, uint16_t dosDate, uint16_t dosTime);
    bool setFolderAttributes(const char* rel, uint32_t dosAttributes);

private:
    struct Impl;
    Impl* impl_;
};
uint32_t errorLinkInPath();
uint32_t errorNameTooLong();

// Times and protection set through an open handle (so that no name can be
// swapped for a link in between). The MS-DOS time as the file's times
// (rules of setFileTimesFromDos).
bool setHandleTimesFromDos(FileHandle h, uint16_t dosDate, uint16_t dosTime);
// MS-DOS attributes on an open file: read-only clears every write
// permission bit on POSIX and sets the attribute on Win32, where hidden,
// system and archive are set too. keep, when not null, is the file this
// one replaces: its permission bits (POSIX) or its read-only, hidden and
// system attributes (Win32) are kept, so a replaced file never becomes
// less protected than it was.
bool setHandleAttributes(FileHandle h, uint32_t dosAttributes, const NodeInfo* keep);

}  // namespace platform
