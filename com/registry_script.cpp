#include "com/registry_script.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "support/byte_reader.h"

RegistryBackend::~RegistryBackend() = default;

std::string ScriptText::expand(const std::string& modulePath) const {
    std::string out;
    for (size_t i = 0; i < pieces.size(); i++) {
        if (i) out += modulePath;
        out += pieces[i];
    }
    return out;
}

namespace {

// The one reader of the script's bytes: a position inside a ByteView and
// the line it is on. Nothing else looks at the text.
class ScriptCursor {
public:
    explicit ScriptCursor(ByteView view) : view_(view) {}

    bool atEnd() const { return off_ >= view_.size(); }
    unsigned line() const { return line_; }
    // The byte at the cursor; false at the end of the text.
    bool peek(uint8_t* c) const { return view_.u8(off_, c); }
    void advance() {
        uint8_t c;
        if (!view_.u8(off_, &c)) return;
        off_++;
        if (c == '\n') line_++;
    }
    // Skips bytes equal to prefix when the text starts with all of them.
    bool skipPrefix(const uint8_t* prefix, uint64_t n) {
        const uint8_t* p = view_.at(off_, n);
        if (!p || std::memcmp(p, prefix, size_t(n)) != 0) return false;
        for (uint64_t i = 0; i < n; i++) advance();
        return true;
    }

private:
    ByteView view_;
    uint64_t off_ = 0;
    unsigned line_ = 1;
};

bool isLetter(uint8_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isWordChar(uint8_t c) { return isLetter(c) || (c >= '0' && c <= '9') || c == '_'; }
bool isSpace(uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A byte for a message: the character itself when printable, else its value.
std::string describeByte(uint8_t c) {
    char buf[32];
    if (c >= 0x20 && c < 0x7F)
        std::snprintf(buf, sizeof buf, "unexpected character '%c'", char(c));
    else
        std::snprintf(buf, sizeof buf, "unexpected byte 0x%02X", unsigned(c));
    return buf;
}

// What a string stands for: text that may use %MODULE%, or a name.
enum class StringUse { Text, Name };

class Parser {
public:
    explicit Parser(ByteView view) : cur_(view) {}

    bool run(std::vector<ScriptKey>* keys) {
        static const uint8_t kBom[3] = {0xEF, 0xBB, 0xBF};
        cur_.skipPrefix(kBom, 3);
        if (!parseStatements(keys, 0, 0)) return false;
        if (keys->empty()) return fail(cur_.line(), "the script has no statements");
        return true;
    }

    const std::string& error() const { return error_; }

private:
    bool fail(unsigned line, const std::string& message) {
        error_ = "line " + std::to_string(line) + ": " + message;
        return false;
    }

    void skipSpaceAndComments() {
        uint8_t c;
        while (cur_.peek(&c)) {
            if (isSpace(c)) {
                cur_.advance();
            } else if (c == ';') {
                while (cur_.peek(&c) && c != '\n') cur_.advance();
            } else {
                return;
            }
        }
    }

    // The statements of one block (depth > 0) or of the whole script (depth
    // 0), up to its '}' or the end of the text.
    bool parseStatements(std::vector<ScriptKey>* keys, unsigned depth, unsigned openLine) {
        for (;;) {
            skipSpaceAndComments();
            uint8_t c;
            if (!cur_.peek(&c)) {
                if (depth > 0) return fail(openLine, "missing '}' to close the block opened here");
                return true;
            }
            unsigned line = cur_.line();
            if (c == '}') {
                if (depth == 0) return fail(line, "'}' without an open block");
                cur_.advance();
                return true;
            }
            if (c == '"') return fail(line, "a string where a statement should start");
            if (c == '=') return fail(line, "'=' without a key or value before it");
            if (c == '{') return fail(line, "'{' without a key before it");
            if (!isLetter(c)) return fail(line, describeByte(c));

            std::string word;
            while (cur_.peek(&c) && isWordChar(c)) {
                if (word.size() <= 32) word += char(c);
                cur_.advance();
            }
            if (word == "key" || word == "keep" || word == "fresh") {
                ScriptKeyKind kind = word == "key"    ? ScriptKeyKind::Key
                                     : word == "keep" ? ScriptKeyKind::Keep
                                                      : ScriptKeyKind::Fresh;
                if (!parseKey(kind, word, line, keys, depth)) return false;
            } else if (word == "value") {
                if (depth == 0) return fail(line, "'value' outside a key's block");
                // The values belong to the key whose block this is; the
                // caller passes it through currentKey_.
                if (!parseValue(currentKey_)) return false;
            } else {
                if (word.size() > 32) word = word.substr(0, 32) + "...";
                return fail(line, "unknown word '" + word + "'");
            }
        }
    }

    bool parseKey(ScriptKeyKind kind, const std::string& word, unsigned line,
                  std::vector<ScriptKey>* siblings, unsigned depth) {
        ScriptKey key;
        key.kind = kind;
        key.line = line;
        skipSpaceAndComments();
        uint8_t c;
        if (!cur_.peek(&c) || c != '"') return fail(cur_.line(), "a quoted key name must follow '" + word + "'");
        unsigned nameLine = cur_.line();
        ScriptText name;
        if (!parseString(StringUse::Name, &name)) return false;
        key.name = name.pieces[0];
        if (key.name.empty()) return fail(nameLine, "empty key name");
        if (key.name.find('\\') != std::string::npos)
            return fail(nameLine, "backslash in the key name \"" + key.name + "\" (one key per statement)");
        if (key.name.size() > RegistryScript::kMaxKeyName)
            return fail(nameLine, "key name longer than 255 characters");
        for (const ScriptKey& s : *siblings)
            if (sameRegistryName(s.name, key.name))
                return fail(nameLine, "key \"" + key.name + "\" already appears on line " + std::to_string(s.line));

        skipSpaceAndComments();
        if (cur_.peek(&c) && c == '=') {
            cur_.advance();
            skipSpaceAndComments();
            if (!cur_.peek(&c) || c != '"') return fail(cur_.line(), "'=' without a string after it");
            key.hasDefault = true;
            if (!parseString(StringUse::Text, &key.defaultValue)) return false;
            skipSpaceAndComments();
        }
        if (cur_.peek(&c) && c == '{') {
            unsigned openLine = cur_.line();
            if (depth + 1 > RegistryScript::kMaxDepth)
                return fail(openLine, "blocks nested deeper than 32 levels");
            cur_.advance();
            ScriptKey* outer = currentKey_;
            currentKey_ = &key;
            bool ok = parseStatements(&key.children, depth + 1, openLine);
            currentKey_ = outer;
            if (!ok) return false;
        }
        siblings->push_back(std::move(key));
        return true;
    }

    bool parseValue(ScriptKey* key) {
        skipSpaceAndComments();
        uint8_t c;
        if (!cur_.peek(&c) || c != '"') return fail(cur_.line(), "a quoted value name must follow 'value'");
        unsigned nameLine = cur_.line();
        ScriptValue value;
        ScriptText name;
        if (!parseString(StringUse::Name, &name)) return false;
        value.name = name.pieces[0];
        if (value.name.empty())
            return fail(nameLine, "empty value name (a key's default value is given with '=' after its name)");
        if (value.name.size() > RegistryScript::kMaxValueName)
            return fail(nameLine, "value name longer than 16383 characters");
        for (const ScriptValue& v : key->values)
            if (sameRegistryName(v.name, value.name)) return fail(nameLine, "value \"" + value.name + "\" set twice");
        skipSpaceAndComments();
        if (!cur_.peek(&c) || c != '=') return fail(cur_.line(), "'=' and a string must follow the value name");
        cur_.advance();
        skipSpaceAndComments();
        if (!cur_.peek(&c) || c != '"') return fail(cur_.line(), "'=' without a string after it");
        if (!parseString(StringUse::Text, &value.text)) return false;
        key->values.push_back(std::move(value));
        return true;
    }

    // A quoted string at the cursor (which is on the opening quote). It
    // ends on the same line.
    bool parseString(StringUse use, ScriptText* out) {
        unsigned line = cur_.line();
        out->pieces.assign(1, std::string());
        cur_.advance();  // the opening quote
        uint8_t c;
        for (;;) {
            if (!cur_.peek(&c) || c == '\n' || c == '\r') return fail(line, "unterminated string");
            cur_.advance();
            if (c == '"') return true;
            if (c == 0) return fail(line, "zero byte in a string");
            if (c == '\\') {
                if (!cur_.peek(&c) || c == '\n' || c == '\r') return fail(line, "unterminated string");
                if (c != '"' && c != '\\')
                    return fail(line, std::string("unknown escape \\") + (c >= 0x20 && c < 0x7F ? char(c) : '?') +
                                          " (only \\\" and \\\\ exist)");
                cur_.advance();
                out->pieces.back() += char(c);
                continue;
            }
            if (c == '%') {
                if (!parseVariable(use, line, out)) return false;
                continue;
            }
            out->pieces.back() += char(c);
        }
    }

    // After a '%': "%" (a percent sign) or "MODULE%".
    bool parseVariable(StringUse use, unsigned line, ScriptText* out) {
        uint8_t c;
        if (cur_.peek(&c) && c == '%') {
            cur_.advance();
            out->pieces.back() += '%';
            return true;
        }
        std::string name;
        while (cur_.peek(&c) && isWordChar(c)) {
            if (name.size() <= 32) name += char(c);
            cur_.advance();
        }
        if (!cur_.peek(&c) || c != '%' || name.empty())
            return fail(line, "'%' without a variable name and a closing '%' (a percent sign is written %%)");
        cur_.advance();
        if (name != "MODULE") {
            if (name.size() > 32) name = name.substr(0, 32) + "...";
            return fail(line, "unknown variable %" + name + "%");
        }
        if (use == StringUse::Name) return fail(line, "%MODULE% in a name (names are literal)");
        out->pieces.emplace_back();
        return true;
    }

    ScriptCursor cur_;
    ScriptKey* currentKey_ = nullptr;
    std::string error_;
};

bool keyUsesModule(const ScriptKey& key) {
    if (key.hasDefault && key.defaultValue.usesModule()) return true;
    for (const ScriptValue& v : key.values)
        if (v.text.usesModule()) return true;
    for (const ScriptKey& k : key.children)
        if (keyUsesModule(k)) return true;
    return false;
}

uint32_t registerKeys(const std::vector<ScriptKey>& keys, const std::string& parent, RegistryBackend& backend,
                      const std::string& module) {
    for (const ScriptKey& key : keys) {
        std::string path = parent.empty() ? key.name : parent + "\\" + key.name;
        uint32_t st;
        if (key.kind == ScriptKeyKind::Fresh) {
            st = backend.deleteTree(path);
            if (st != regstatus::kOk && st != regstatus::kNotFound) return st;
        }
        if ((st = backend.createKey(path)) != regstatus::kOk) return st;
        if (key.hasDefault) {
            st = backend.setString(path, std::string(), key.defaultValue.expand(module));
            if (st != regstatus::kOk) return st;
        }
        for (const ScriptValue& v : key.values)
            if ((st = backend.setString(path, v.name, v.text.expand(module))) != regstatus::kOk) return st;
        if ((st = registerKeys(key.children, path, backend, module)) != regstatus::kOk) return st;
    }
    return regstatus::kOk;
}

void unregisterKeys(const std::vector<ScriptKey>& keys, const std::string& parent, RegistryBackend& backend,
                    uint32_t* firstFailure) {
    for (const ScriptKey& key : keys) {
        std::string path = parent.empty() ? key.name : parent + "\\" + key.name;
        if (key.kind == ScriptKeyKind::Keep) {
            unregisterKeys(key.children, path, backend, firstFailure);
            continue;
        }
        uint32_t st = backend.deleteTree(path);
        if (st != regstatus::kOk && st != regstatus::kNotFound && *firstFailure == regstatus::kOk)
            *firstFailure = st;
    }
}

}  // namespace

char foldRegistryName(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool sameRegistryName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++)
        if (foldRegistryName(a[i]) != foldRegistryName(b[i])) return false;
    return true;
}

bool RegistryScript::parse(const char* text, size_t length, std::string* error) {
    keys_.clear();
    Parser parser(ByteView(reinterpret_cast<const uint8_t*>(text), length));
    std::vector<ScriptKey> keys;
    if (!parser.run(&keys)) {
        if (error) *error = parser.error();
        return false;
    }
    keys_ = std::move(keys);
    return true;
}

bool RegistryScript::usesModule() const {
    for (const ScriptKey& k : keys_)
        if (keyUsesModule(k)) return true;
    return false;
}

uint32_t applyRegister(const RegistryScript& script, RegistryBackend& backend, const char* modulePath) {
    std::string module = modulePath ? modulePath : "";
    if (module.empty() && script.usesModule()) return regstatus::kInvalidParameter;
    return registerKeys(script.keys(), std::string(), backend, module);
}

uint32_t applyUnregister(const RegistryScript& script, RegistryBackend& backend) {
    uint32_t first = regstatus::kOk;
    unregisterKeys(script.keys(), std::string(), backend, &first);
    return first;
}
