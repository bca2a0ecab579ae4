#include "cli/archive_cli.h"

#include <cstdio>
#include <cstring>

#include "cli/sfx_command.h"
#include "support/platform.h"

namespace cli {

bool parseArguments(int argc, char** argv, const char* allowed, Arguments* a, std::string* problem) {
    bool optionsEnded = false;
    int sources = 0;  // ways the password was given
    for (int i = 0; i < argc; i++) {
        std::string arg = argv[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            a->paths.push_back(arg);
            continue;
        }
        auto takes = [&](char c) { return std::strchr(allowed, c) != nullptr; };
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) {
                *problem = "option " + arg + " needs a value";
                return false;
            }
            *out = argv[++i];
            return true;
        };
        if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-r" && takes('r')) {
            a->recursive = true;
        } else if (arg == "-l" && takes('l')) {
            std::string v;
            if (!value(&v)) return false;
            if (v.size() != 1 || v[0] < '0' || v[0] > '9') {
                *problem = "the level must be a digit from 0 to 9, not \"" + v + "\"";
                return false;
            }
            a->level = v[0] - '0';
        } else if ((arg == "-p" || arg == "--password") && takes('p')) {
            if (!value(&a->password)) return false;  // "" is a password too
            sources++;
        } else if (arg == "--password-file" && takes('p')) {
            if (!value(&a->passwordFile)) return false;
            sources++;
        } else if ((arg == "-e" || arg == "--encrypt") && takes('E')) {
            a->encrypt = true;
            sources++;
        } else if (arg == "-d" && takes('d')) {
            if (!value(&a->folder)) return false;
            a->haveFolder = true;
        } else if (arg == "-o" && takes('o')) {
            a->overwrite = true;
        } else if (arg == "-n" && takes('n')) {
            a->keepExisting = true;
        } else if (arg == "--aes" && takes('c')) {
            a->aes = true;
        } else if (arg == "--zipcrypto" && takes('c')) {
            a->zipCrypto = true;
        } else {
            *problem = "unknown option " + arg;
            return false;
        }
    }
    if (a->overwrite && a->keepExisting) {
        *problem = "-o and -n exclude each other";
        return false;
    }
    if (a->aes && a->zipCrypto) {
        *problem = "--aes and --zipcrypto exclude each other";
        return false;
    }
    if (sources > 1) {
        *problem = "give the password one way only (-p, --password-file or -e)";
        return false;
    }
    a->havePassword = sources == 1;
    if ((a->aes || a->zipCrypto) && !a->havePassword) {
        *problem = "--aes and --zipcrypto need a password (-e, -p or --password-file)";
        return false;
    }
    return true;
}

bool obtainPassword(Arguments* a, bool confirm, const char* verb) {
    std::string problem;
    bool ok = true;
    if (!a->passwordFile.empty()) ok = readPasswordFile(a->passwordFile, &a->password, &problem);
    else if (a->encrypt) ok = askPassword("Password: ", confirm, &a->password, &problem);
    if (!ok) std::fprintf(stderr, "%s: %s\n", verb, problem.c_str());
    return ok;
}

bool askPassword(const std::string& prompt, bool confirm, std::string* password, std::string* problem) {
    if (!platform::isTerminal(stdin)) {
        *problem = "no terminal to ask for the password on (use --password-file FILE)";
        return false;
    }
    std::string first;
    for (int round = 0; round < (confirm ? 2 : 1); round++) {
        bool echoOff = platform::setInputEcho(false);  // before the prompt: an answer may follow at once
        std::fputs(round ? "Again: " : prompt.c_str(), stderr);
        std::fflush(stderr);
        char line[1024];
        bool got = std::fgets(line, sizeof line, stdin) != nullptr;
        if (echoOff) platform::setInputEcho(true);
        std::fputs("\n", stderr);
        if (!got) {
            *problem = "no password entered";
            return false;
        }
        std::string typed = line;
        while (!typed.empty() && (typed.back() == '\n' || typed.back() == '\r')) typed.pop_back();
        if (round == 0) first = typed;
        else if (typed != first) {
            *problem = "the passwords differ";
            return false;
        }
    }
    *password = first;
    return true;
}

bool readPasswordFile(const std::string& path, std::string* password, std::string* problem) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        *problem = "cannot read the password file " + printable(path) + ": " +
                   platform::errorMessage(platform::lastError());
        return false;
    }
    std::string line;
    int c;
    while ((c = std::fgetc(f)) != EOF && c != '\n') line += char(c);
    std::fclose(f);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    *password = line;
    return true;
}

void askForEntryPassword(const ZipReader& reader, const std::string& path, Arguments* a) {
    if (a->havePassword || !platform::isTerminal(stdin) || !platform::isTerminal(stderr)) return;
    for (size_t i = 0; i < reader.entryCount(); i++) {
        if (reader.entry(i).encryption == ZipEntry::None) continue;
        std::string problem;
        if (askPassword(printable(forDisplay(path)) + " is encrypted; password: ", false, &a->password, &problem))
            a->havePassword = true;
        else
            std::fprintf(stderr, "orvanta: %s\n", problem.c_str());
        return;
    }
}

std::string toUtf8(const std::string& local) {
    if (local.empty()) return local;
    int n = platform::ansiToUtf8(local.data(), int(local.size()), nullptr, 0);
    if (n <= 0) return local;
    std::string out(size_t(n), '\0');
    return platform::ansiToUtf8(local.data(), int(local.size()), &out[0], n) == n ? out : local;
}

std::string forDisplay(const std::string& utf8) {
    int n = platform::utf8ToAnsi(utf8.data(), int(utf8.size()), nullptr, 0);
    if (n <= 0) return utf8;
    std::string out(size_t(n), '\0');
    return platform::utf8ToAnsi(utf8.data(), int(utf8.size()), &out[0], n) == n ? out : utf8;
}

std::string printable(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); i++) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        char esc[8];
        if (c == '\n' || c == '\r' || c == '\t') {
            out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
        } else if (c < 0x20 || c == 0x7f) {
            std::snprintf(esc, sizeof esc, "\\x%02x", c);
            out += esc;
        } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
            // U+0080..U+009F in UTF-8: terminals take some as controls (CSI).
            std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned char>(text[++i]));
            out += esc;
        } else {
            out += char(c);
        }
    }
    return out;
}

bool isSeparator(char c) { return c == '/' || c == platform::pathSeparator(); }

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (isSeparator(folder.back())) return folder + name;
    return folder + platform::pathSeparator() + name;
}

ZipExtractOptions extractOptions(bool overwrite, bool keepExisting, const std::string& archivePath,
                                 ZipOverwriteQuestion* question) {
    ZipExtractOptions o;
    if (overwrite) o.overwrite = ZipOverwrite::Replace;
    else if (keepExisting) o.overwrite = ZipOverwrite::Skip;
    else if (platform::isTerminal(stdin) && platform::isTerminal(stderr)) o.overwrite = ZipOverwrite::Ask;
    else o.overwrite = ZipOverwrite::Refuse;
    o.question = question;
    platform::fileIdOf(archivePath.c_str(), &o.protect);
    return o;
}

ZipOverwriteQuestion::Answer TerminalQuestion::ask(const std::string& path) {
    for (;;) {
        std::fprintf(stderr, "replace %s? [y]es, [n]o, [A]ll, [N]one: ", printable(forDisplay(path)).c_str());
        std::fflush(stderr);
        char line[64];
        if (!std::fgets(line, sizeof line, stdin)) {
            std::fputs("\n", stderr);
            return None;  // end of input: keep everything from here on
        }
        switch (line[0]) {
            case 'y': return Yes;
            case 'n': return No;
            case 'A': return All;
            case 'N': return None;
            default: break;
        }
    }
}

bool openArchive(ZipReader& reader, const std::string& path, const char* verb) {
    std::string error;
    if (reader.openFile(path.c_str(), &error)) return true;
    std::string hint;
    if (describeSelfExtractor(path, &hint)) {  // a self-extractor the reader cannot read
        std::fprintf(stderr, "%s: %s\n", verb, hint.c_str());
        return false;
    }
    // The reader names the path itself when the file cannot be opened.
    if (error.compare(0, 12, "cannot open ") == 0)
        std::fprintf(stderr, "%s: %s\n", verb, printable(error).c_str());
    else
        std::fprintf(stderr, "%s: %s: %s\n", verb, printable(path).c_str(), printable(error).c_str());
    return false;
}

void reportExtraction(const char* verb, const ZipExtractResult& r) {
    for (const ZipExtractResult::Failure& w : r.warnings)
        std::fprintf(stderr, "%s: warning: %s: %s\n", verb, printable(forDisplay(w.entry)).c_str(),
                     printable(w.reason).c_str());
    if (r.refusedExisting)
        std::fprintf(stderr, "%s: %u existing file%s not replaced: use -o to replace existing files or -n to keep them\n",
                     verb, r.refusedExisting, r.refusedExisting == 1 ? "" : "s");
}

ProgressLine::ProgressLine() : enabled_(platform::isTerminal(stderr)) {}

void ProgressLine::show(const std::string& text) {
    if (!enabled_) return;
    uint32_t now = platform::tickCount();
    if (shown_ && now - last_ < 100) return;  // at most ten a second
    last_ = now;
    std::string line = text.size() > 76 ? text.substr(0, 73) + "..." : text;
    std::fprintf(stderr, "\r%-78s\r", line.c_str());
    std::fflush(stderr);
    shown_ = true;
}

void ProgressLine::clear() {
    if (!shown_) return;
    std::fprintf(stderr, "\r%78s\r", "");
    std::fflush(stderr);
    shown_ = false;
}

}  // namespace cli
