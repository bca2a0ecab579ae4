// The registration script of our in-process COM servers and the two walks
// over it: registration and unregistration.
//
// A script is text carried as a resource (REGISTRY 102 in the builder).
// Statements, one key or value each; `;` starts a comment up to the end of
// the line (outside quotes):
//
//   key "Name" [= "default"] [{ ... }]    created on registration; removed
//                                         with its subtree on unregistration
//   keep "Name" [= "default"] [{ ... }]   created if missing, never removed;
//                                         its children are processed
//   fresh "Name" [= "default"] [{ ... }]  deleted with its subtree, then
//                                         created anew on registration;
//                                         removed on unregistration
//   value "Name" = "text"                 a named string value of the
//                                         enclosing key (inside a block only)
//
// The statement words are lower case. Strings are in double quotes on one
// line, with the escapes \" and \\; %MODULE% stands for the module path
// given to applyRegister, %% for a percent sign, any other %NAME% is an
// error. A name (key or value) is literal text: no %MODULE%, and a key name
// is one path component (no backslash) of at most 255 characters, unique
// among its siblings (ignoring case, as the registry does); a value is set
// at most once per key. Top-level keys are relative to the root the backend
// was given (HKEY_CLASSES_ROOT for the product). Only string values exist.
//
// The script is read as untrusted bytes: the parser never reads past the
// length it is given and does not need a terminating zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Status codes of the backends: 0 for success, otherwise a Win32 error code
// (the native memory registry uses the same values for the same cases).
namespace regstatus {
constexpr uint32_t kOk = 0;
constexpr uint32_t kNotFound = 2;           // ERROR_FILE_NOT_FOUND
constexpr uint32_t kAccessDenied = 5;       // ERROR_ACCESS_DENIED
constexpr uint32_t kInvalidParameter = 87;  // ERROR_INVALID_PARAMETER
}  // namespace regstatus

// Where the walks write. Paths are relative to the backend's root, the key
// names joined with '\\' ("CLSID\\{...}\\InprocServer32"); never empty.
class RegistryBackend {
public:
    virtual ~RegistryBackend();
    // Creates the key and any missing parent, or opens it when it exists.
    virtual uint32_t createKey(const std::string& path) = 0;
    // Sets a string value of an existing key; an empty name is the key's
    // default value.
    virtual uint32_t setString(const std::string& path, const std::string& valueName,
                               const std::string& text) = 0;
    // Deletes the key with all its subkeys and values; regstatus::kNotFound
    // when there is no such key.
    virtual uint32_t deleteTree(const std::string& path) = 0;
    virtual bool keyExists(const std::string& path) = 0;
};

// A string of the script: literal pieces with the module path between
// each two of them ("%MODULE%, 101" is {"", ", 101"}).
struct ScriptText {
    std::vector<std::string> pieces{std::string()};

    bool usesModule() const { return pieces.size() > 1; }
    // Inserts the module path as it is (it is not scanned for variables).
    std::string expand(const std::string& modulePath) const;
};

// Key and value names compare as the registry compares them: without
// regard to ASCII case.
char foldRegistryName(char c);
bool sameRegistryName(const std::string& a, const std::string& b);

enum class ScriptKeyKind { Key, Keep, Fresh };

struct ScriptValue {
    std::string name;
    ScriptText text;
};

struct ScriptKey {
    ScriptKeyKind kind = ScriptKeyKind::Key;
    std::string name;
    unsigned line = 0;  // where the statement starts
    bool hasDefault = false;
    ScriptText defaultValue;
    std::vector<ScriptValue> values;
    std::vector<ScriptKey> children;
};

class RegistryScript {
public:
    // Deepest nesting of blocks: a block inside 32 others is an error.
    static constexpr unsigned kMaxDepth = 32;
    // The registry's own limit on the length of one key name.
    static constexpr size_t kMaxKeyName = 255;
    static constexpr size_t kMaxValueName = 16383;

    // Parses length bytes of text (a leading UTF-8 byte order mark is
    // skipped). On failure the script is left empty and *error (when given)
    // receives "line N: message". A script without any statement is an
    // error, so an empty or cut-off resource never registers "nothing" as
    // a success.
    bool parse(const char* text, size_t length, std::string* error);

    const std::vector<ScriptKey>& keys() const { return keys_; }
    bool usesModule() const;

private:
    std::vector<ScriptKey> keys_;
};

// Registration: top-down; `key` and `keep` create (or open) the key, set its
// default value when the script gives one, set its values and go on with
// its children; `fresh` first deletes the key's subtree (a missing key is
// fine) and then does the same. Stops at the first failure and returns its
// status, 0 when everything was written. A script that uses %MODULE% with a
// null or empty module path writes nothing and returns
// regstatus::kInvalidParameter.
uint32_t applyRegister(const RegistryScript& script, RegistryBackend& backend, const char* modulePath);

// Unregistration: `key` and `fresh` keys are deleted with their subtrees (a
// missing key is fine); of a `keep` key only the children are processed.
// Goes on past failures, so everything that can be removed is removed, and
// returns the first failure's status (0 when there was none) for the
// caller's log; the servers report success whatever it is.
uint32_t applyUnregister(const RegistryScript& script, RegistryBackend& backend);
