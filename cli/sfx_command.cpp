#include "cli/sfx_command.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "cli/archive_cli.h"
#include "cli/usage.h"
#include "exeimage/exe_image.h"
#include "sfxbuilder/encrypt_to_temp.h"
#include "sfxbuilder/icon_file.h"
#include "sfxbuilder/sfx_settings.h"
#include "sfxformat/sfx_format.h"
#include "sfxstub/stub_carrier.h"
#include "sfxstub/stub_core.h"
#include "support/logger.h"
#include "support/platform.h"
#include "support/replacing_output.h"
#include "support/string_buffer.h"
#include "zip/zip_archive.h"

namespace {

// A usage error of one sfx verb ("build", "inspect", "extract").
int usage(const char* verb, const std::string& problem) { return usageError(std::string("sfx ") + verb, problem); }

// ---- The command line ------------------------------------------------------

// One option a verb takes: its spelling and whether it wants a value.
struct OptionRule {
    const char* name;
    bool takesValue;
};

struct ParsedOption {
    std::string name;
    std::string value;
};

// Splits arguments into options (--name VALUE, --name=VALUE, -d VALUE) and
// the rest. An option value may start with "-" (a negative key length).
bool parseCommandLine(int argc, char** argv, const std::vector<OptionRule>& rules, std::vector<ParsedOption>* options,
                      std::vector<std::string>* rest, std::string* problem) {
    bool ended = false;
    for (int i = 0; i < argc; i++) {
        std::string arg = argv[i];
        if (ended || arg.size() < 2 || arg[0] != '-') {
            rest->push_back(arg);
            continue;
        }
        if (arg == "--") {
            ended = true;
            continue;
        }
        std::string name = arg, value;
        bool inlineValue = false;
        size_t eq = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            inlineValue = true;
        }
        const OptionRule* rule = nullptr;
        for (const OptionRule& s : rules) {
            if (name == s.name) rule = &s;
        }
        if (!rule) {
            *problem = "unknown option " + name;
            return false;
        }
        if (rule->takesValue && !inlineValue) {
            if (i + 1 >= argc) {
                *problem = "option " + name + " needs a value";
                return false;
            }
            value = argv[++i];
        } else if (!rule->takesValue && inlineValue) {
            *problem = "option " + name + " takes no value";
            return false;
        }
        options->push_back({name, value});
    }
    return true;
}

// A 32-bit signed decimal integer, the whole text.
bool parseInt32(const std::string& text, int* out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return false;
    *out = static_cast<int>(v);
    return true;
}

std::string errorTextOf(Logger& log) {
    StringBuffer text;
    log.getErrorText(text);
    std::string s = text.str() ? text.str() : "";
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s;
}

// The first error message of the context just left: the line after the
// context's own (the data lines after it name the file again). Empty when
// nothing was logged.
std::string firstError(Logger& log) {
    std::string text = errorTextOf(log);
    size_t start = text.find('\n');
    if (start == std::string::npos) return "";
    size_t end = text.find('\n', start + 1);
    return text.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
}

const char* modeName(StubMode mode) {
    switch (mode) {
        case StubMode::Silent: return "silent";
        case StubMode::Automatic: return "automatic";
        case StubMode::Interactive: return "interactive";
    }
    return "interactive";
}

void warn(const std::string& text) { std::fprintf(stderr, "orvanta sfx: warning: %s\n", text.c_str()); }

// How a verb was given its password: -p/--password PW, --password-file
// FILE, or -e/--encrypt (typed twice on the terminal). One way only.
struct PasswordSource {
    int ways = 0;
    bool fromFile = false, ask = false;
    std::string file, password;

    // Takes o when it is one of the password options.
    bool take(const ParsedOption& o) {
        if (o.name == "-p" || o.name == "--password") {
            password = o.value;  // an empty password is a password
        } else if (o.name == "--password-file") {
            fromFile = true;
            file = o.value;
        } else if (o.name == "-e" || o.name == "--encrypt") {
            ask = true;
        } else {
            return false;
        }
        ways++;
        return true;
    }
    // The password from its file or the terminal; false with *problem set.
    bool obtain(std::string* problem) {
        if (fromFile) return cli::readPasswordFile(file, &password, problem);
        if (ask) return cli::askPassword("Password for the self-extractor: ", true, &password, problem);
        return true;
    }
};

// ---- sfx build ---------------------------------------------------------------

// Logs a failure of the build as the builder logs its own: the message,
// the file, and the reason.
bool logFailure(LogBase& log, const char* message, const std::string& file, const std::string& reason) {
    log.logError(message);
    log.logData("filename", file.c_str());
    if (!reason.empty()) log.logData("reason", reason.c_str());
    return false;
}

// A message about path without the path in front, which the log names
// anyway.
std::string reasonOnly(const std::string& message, const std::string& path) {
    return message.compare(0, path.size() + 2, path + ": ") == 0 ? message.substr(path.size() + 2) : message;
}

// Windows' view of an entry or program name: "\" and "/" alike, ASCII
// letters in one case, no separator at the end.
std::string windowsKey(const std::string& name) {
    std::string key;
    for (char c : name) key += c == '\\' ? '/' : (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    while (!key.empty() && key.back() == '/') key.pop_back();
    return key;
}

// Takes an entry's contents only to learn that they can be had.
class DiscardingSink : public ZipDataSink {
public:
    bool write(const uint8_t*, size_t) override { return true; }
};

// The self-extractor the settings make, as far as its archive matters.
struct PayloadPlan {
    std::string input;                     // what the command line named (the zip or the folder)
    const std::string* program = nullptr;  // started after the unzip (null: none)
    const char* password = nullptr;        // asked for when it starts (null: none)
    StubMode mode = StubMode::Interactive;
};

// What the self-extractor would fail at with this archive. A program
// that is not in it: a warning (the user is told when it fails to start).
// Entries encrypted inside it: the stub opens them only with the password
// it asks for, and asks only for an encrypted payload. Without one they
// never unpack: refused when the self-extractor unpacks on its own, a
// warning when a user unpacks through the dialog. A password given must
// open them (tried on the smallest).
bool payloadWorks(ZipReader& reader, const PayloadPlan& plan, LogBase& log) {
    if (plan.program) {
        const std::string wanted = windowsKey(cli::toUtf8(*plan.program));
        bool found = false;
        for (size_t i = 0; i < reader.entryCount() && !found; i++) found = windowsKey(reader.entry(i).name) == wanted;
        if (!found)
            warn("the program \"" + cli::printable(*plan.program) +
                 "\" to run is not in the archive: the self-extractor will fail to start it");
    }
    size_t encrypted = 0, smallest = 0;
    for (size_t i = 0; i < reader.entryCount(); i++) {
        const ZipEntry& e = reader.entry(i);
        if (e.encryption == ZipEntry::None) continue;
        if (!encrypted++ || e.compressedSize < reader.entry(smallest).compressedSize) smallest = i;
    }
    if (!encrypted) return true;
    if (plan.password) {
        DiscardingSink sink;
        std::string why;
        if (reader.extract(smallest, sink, plan.password, &why)) return true;
        return logFailure(log, "The password does not open the encrypted entries of the Zip file", plan.input, why);
    }
    const std::string what = std::to_string(encrypted) +
                             (encrypted == 1 ? " encrypted entry (" : " encrypted entries (") +
                             cli::forDisplay(reader.entry(smallest).name) + (encrypted == 1 ? ")" : ", ...)");
    const std::string remedy =
        "give their password with -e, -p or --password-file: the self-extractor then asks for it and opens them "
        "with it";
    if (plan.mode != StubMode::Interactive) {
        return logFailure(log, "The Zip file has encrypted entries", plan.input,
                          what + " that a self-extractor in " + modeName(plan.mode) +
                              " mode cannot unpack without a password; " + remedy);
    }
    warn(cli::printable(plan.input) + " holds " + cli::printable(what) +
         " that the self-extractor cannot unpack without a password; " + remedy);
    return true;
}

// What the builder does not check itself: the archive must be a zip
// archive that the self-extractor can unpack (payloadWorks), and the
// output neither the archive nor the icon, under any name (a link, a hard
// link). Writing over either would destroy it.
bool buildInputsUsable(const std::string& zipPath, const std::string& iconPath, const std::string& outPath,
                       const PayloadPlan& plan, LogBase& log) {
    ZipReader reader;
    std::string why;
    if (!reader.openFile(zipPath.c_str(), &why)) return logFailure(log, "The Zip file cannot be read", zipPath, why);
    const struct {
        const std::string& path;
        const char* message;
    } inputs[] = {{zipPath, "Output file is the Zip file"}, {iconPath, "Output file is the icon file"}};
    platform::FileId out, in;
    if (platform::fileIdOf(outPath.c_str(), &out)) {
        for (const auto& input : inputs) {
            if (!input.path.empty() && platform::fileIdOf(input.path.c_str(), &in) && in == out)
                return logFailure(log, input.message, outPath, "");
        }
    }
    return payloadWorks(reader, plan, log);
}

// Is the folder that path is written to `folder` itself, or below it?
// Climbs by ".." (the folders themselves, not their names) to the root.
bool writtenInside(const std::string& path, const std::string& folder) {
    platform::FileId target, at, up;
    if (!platform::fileIdOf(folder.c_str(), &target)) return false;
    size_t cut = path.size();
    while (cut > 0 && !cli::isSeparator(path[cut - 1])) cut--;
    std::string level = cut == 0 ? "." : path.substr(0, cut);  // keeps its separator: "/", "C:\"
    for (int depth = 0; depth < 4096 && platform::fileIdOf(level.c_str(), &at); depth++) {
        if (at == target) return true;
        level = cli::joinPath(level, "..");
        if (!platform::fileIdOf(level.c_str(), &up) || up == at) return false;
    }
    return false;
}

// A folder given instead of a zip file: zipped with everything in it (the
// default level, names relative to the folder) into a new file in the
// system's temporary folder, which goes when the build is over.
class FolderArchive : public ZipWriter::Listener {
public:
    ~FolderArchive() override {
        if (!path_.empty()) platform::deleteFile(path_.c_str());
    }
    bool make(const std::string& folder, std::string* error) {
        char temp[4096], path[4096];
        if (platform::tempDirectory(temp, sizeof temp) == 0 ||
            platform::createUniqueTempFile(temp, "orv", path, sizeof path) == 0) {
            *error = "no temporary file for the archive: " + platform::errorMessage(platform::lastError());
            return false;
        }
        path_ = path;
        ZipWriter writer;
        return writer.create(path, error) &&
               writer.addFolder(folder.c_str(), "", true, ZipWriter::Options(), error, this) && writer.close(error);
    }
    const std::string& path() const { return path_; }
    void skipped(const std::string& diskPath, const std::string& reason) override {
        std::fprintf(stderr, "orvanta sfx: skipped %s: %s\n", cli::printable(diskPath).c_str(),
                     cli::printable(reason).c_str());
    }

private:
    std::string path_;
};

// The builder leaves a missing or broken icon out without a word (the
// self-extractor keeps the stub's icon); the tool says so and goes on.
void warnAboutIcon(const std::string& iconPath) {
    Logger log;
    log.enterContext("icon", true);
    IconFile icon;
    bool usable = icon.loadFromFile(iconPath.c_str(), &log) && icon.checkBounds(&log);
    log.leaveContext();
    if (usable) return;
    std::string why = firstError(log);
    warn("the icon " + cli::printable(iconPath) + " cannot be used (" + cli::printable(why) +
         "); the stub's own icon stays");
}

// Why an unfinished output could not be written when the build's log does
// not say: another write at its end fails the same way when the disk is
// full. Empty when that write succeeds.
std::string outputWriteProblem(const std::string& temporary) {
    platform::FileHandle h = platform::openFile(temporary.c_str(), platform::OpenMode::WriteExisting);
    if (h == platform::kInvalidFile) return "";
    std::vector<uint8_t> block(64 * 1024);
    uint64_t size = 0;
    uint32_t written = 0;
    bool ok = platform::fileSize(h, &size) && platform::seekFile(h, size) &&
              platform::writeFile(h, block.data(), uint32_t(block.size()), &written) && written == block.size();
    uint32_t code = platform::lastError();
    platform::closeFile(h);
    return ok ? "" : platform::errorMessage(code);
}

// Settings that would never take effect, by the stub's own rules: a usage
// problem, or empty when the settings make sense. mode is the start-up
// mode they give.
std::string pointlessSettings(const SfxSettings& settings, bool haveParams, StubMode mode) {
    const bool haveProgram = settings.runProgram, inPlace = settings.runInPlace;
    if (inPlace && mode != StubMode::Interactive) {
        return std::string(settings.silent ? "--silent" : "--unzip-dir") +
               " unpacks without the unzip dialog, and a --run-in-place program is started only from that "
               "dialog: it would never start. Leave out --run-in-place: --run PROGRAM with --unzip-dir DIR "
               "starts it in DIR after the unzip";
    }
    if (mode == StubMode::Silent && settings.unzipDir.empty() && !haveProgram) {
        return "--silent alone unpacks into a new temporary folder that nobody is told about: add --unzip-dir DIR "
               "(or --run PROGRAM to start a program from there)";
    }
    if (haveParams && !haveProgram) return "--params needs --run: they are the parameters of the program it starts";
    return "";
}

int runBuild(int argc, char** argv) {
    static const std::vector<OptionRule> rules = {
        {"--title", true},  {"--caption", true},  {"--unzip-dir", true}, {"--run", true},
        {"--run-in-place", false}, {"--params", true}, {"--silent", false}, {"--icon", true},
        {"--password", true}, {"-p", true}, {"--password-file", true}, {"-e", false}, {"--encrypt", false},
        {"--key-bits", true}, {"--x64", false}, {"--log", true}};
    std::vector<ParsedOption> options;
    std::vector<std::string> rest;
    std::string problem;
    if (!parseCommandLine(argc, argv, rules, &options, &rest, &problem)) return usage("build", problem);
    if (rest.size() != 2) return usage("build", "sfx build takes a zip file (or a folder) and an output file");

    SfxSettings settings;
    PasswordSource secret;
    bool haveParams = false, haveKeyBits = false, x64 = false;
    bool haveLog = false;
    std::string logPath;
    for (const ParsedOption& o : options) {
        if (secret.take(o)) {
            continue;
        } else if (o.name == "--title") {
            settings.title = o.value;
        } else if (o.name == "--caption") {
            settings.caption = o.value;
        } else if (o.name == "--unzip-dir") {
            settings.unzipDir = o.value;
        } else if (o.name == "--params") {
            settings.params = o.value;
            haveParams = true;
        } else if (o.name == "--icon") {
            settings.iconFile = o.value;
        } else if (o.name == "--silent") {
            settings.silent = true;
        } else if (o.name == "--run") {
            settings.program = o.value;  // an empty program is written too (one zero byte)
            settings.runProgram = true;
        } else if (o.name == "--run-in-place") {
            settings.runInPlace = true;
        } else if (o.name == "--key-bits") {
            if (!parseInt32(o.value, &settings.keyBits))
                return usage("build", "the key length must be a whole number, not \"" + o.value + "\"");
            haveKeyBits = true;
        } else if (o.name == "--x64") {
            x64 = true;
        } else if (o.name == "--log") {
            logPath = o.value;
            haveLog = true;
        }
    }
    if (settings.runInPlace && !settings.runProgram) return usage("build", "--run-in-place needs --run");
    // The parameters the stub will read, as far as they choose its mode.
    StubParameters stub;
    stub.noInterface = settings.silent;
    stub.unzipDir.assign(settings.unzipDir.c_str());
    stub.hasAutotemp = settings.runProgram && !settings.runInPlace;
    const StubMode mode = chooseStubMode(stub);
    problem = pointlessSettings(settings, haveParams, mode);
    if (!problem.empty()) return usage("build", problem);
    if (secret.ways > 1) return usage("build", "give the password one way only (-e, -p/--password or --password-file)");
    if (haveKeyBits && !secret.ways) return usage("build", "--key-bits needs a password (-e, -p or --password-file)");
    if (!secret.obtain(&problem)) return usage("build", problem);
    if (haveKeyBits && (settings.keyBits < 1 || settings.keyBits > 256)) {
        warn("--key-bits " + std::to_string(settings.keyBits) + " is " +
             (settings.keyBits < 1 ? "below 1" : "above 256") + ": the payload is encrypted with " +
             std::to_string(mapPayloadKeyLength(settings.keyBits)) + "-bit keys");
    }
    settings.encrypt = secret.ways > 0;
    settings.password = secret.password;

    const std::string& outPath = rest[1];
    PayloadPlan plan;
    plan.input = rest[0];
    plan.program = settings.runProgram ? &settings.program : nullptr;
    plan.password = settings.encrypt ? settings.password.c_str() : nullptr;
    plan.mode = mode;

    if (!settings.iconFile.empty()) warnAboutIcon(settings.iconFile);

    // The sequence of the builder's COM methods: one log context named after
    // the method, the build into the stub the tool carries (opened where it
    // lies, without the copy on disk that the builder DLL makes), the
    // context closed; the log is saved whether or not the build worked. The
    // executable is written under a temporary name beside OUT.exe and put
    // in its place only when complete.
    Logger log;
    log.enterContext(settings.methodName(), true);
    ReplacingOutput output;
    FolderArchive folderZip;
    std::string zipPath = rest[0], refusal;
    bool built = true;
    platform::FileInfo input;
    if (platform::fileInfo(zipPath.c_str(), &input) && input.isDirectory) {
        // An existing output inside would be packed into its successor.
        if (writtenInside(outPath, zipPath))
            built = logFailure(log, "Output file is inside the folder to pack", outPath, "write it elsewhere");
        else if (!folderZip.make(zipPath, &refusal))
            built = logFailure(log, "The folder cannot be zipped", zipPath, refusal);
        zipPath = folderZip.path();
    }
    built = built && buildInputsUsable(zipPath, settings.iconFile, outPath, plan, log);
    if (built && !output.begin(outPath.c_str(), &refusal))
        built = logFailure(log, "Failed to create file", outPath, reasonOnly(refusal, outPath));
    if (built) {
        output.closeFile();
        CarriedStub stub;
        built = stub.open(x64 ? kStub64ResourceId : kStubResourceId, &log) &&
                buildSelfExtractor(stub.image(), settings, zipPath.c_str(), output.path().c_str(), &log);
        if (!built) {
            std::string diskProblem = outputWriteProblem(output.path());
            if (!diskProblem.empty())
                logFailure(log, "The output's disk takes no more data", outPath, diskProblem);
        } else if (!output.commit(&refusal)) {
            built = logFailure(log, "Failed to replace file", outPath, reasonOnly(refusal, outPath));
        }
    }
    log.leaveContext();

    int status = 0;
    if (!built) {
        std::string why = errorTextOf(log);
        // The log's error text: the context, then one line per message and
        // data item (names and values in it come from the command line and
        // the files).
        std::string indented;
        size_t start = 0;
        for (size_t end; (end = why.find('\n', start)) != std::string::npos; start = end + 1)
            indented += cli::printable(why.substr(start, end - start)) + "\n  ";
        indented += cli::printable(why.substr(start));
        std::fprintf(stderr, "orvanta sfx: building %s failed:\n  %s\n", cli::printable(outPath).c_str(),
                     why.empty() ? "(the log names no reason)" : indented.c_str());
        status = 1;
    }
    if (haveLog && !log.saveXml(false, logPath.c_str())) {
        std::fprintf(stderr, "orvanta sfx: could not write the log %s\n", logPath.c_str());
        status = 1;
    }
    if (built) std::printf("wrote %s\n", cli::printable(outPath).c_str());
    return status;
}

// ---- Reading a self-extractor ------------------------------------------------

std::string textOf(const StringBuffer& s) { return s.str() ? std::string(s.str(), s.length()) : std::string(); }

// A JSON string of stored bytes (bytes above 0x7f read as Latin-1) or,
// with utf8, of UTF-8 text such as entry names.
std::string jsonString(const std::string& s, bool utf8 = false) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c == 0x7f || (c > 0x7f && !utf8)) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

// The program the stub starts after its unzip in the given mode, with the
// path joined as the stub joins it; false when it starts none.
bool programToRun(const StubParameters& p, StubMode mode, const std::string& folder, std::string* path,
                  std::string* params) {
    if (mode == StubMode::Interactive) {
        if (!p.hasAutorun) return false;
        *path = interactiveProgramPath(folder.c_str(), p.autorun.str() ? p.autorun.str() : "");
    } else {
        if (!p.hasAutotemp || p.autotemp.isEmpty()) return false;
        *path = folder + "\\" + textOf(p.autotemp);
    }
    *params = p.autoParams.isEmpty() ? std::string() : textOf(p.autoParams);
    return true;
}

// Opens a self-extractor; null after saying why on standard error.
std::unique_ptr<ExeImage> openSfx(const std::string& path) {
    Logger log;
    log.enterContext("load", true);
    std::unique_ptr<ExeImage> image(ExeImage::loadFromFile(path.c_str(), &log));
    log.leaveContext();
    if (!image) {
        // The loader's log says what is wrong with the contents; when the
        // file cannot be opened at all, the system says why.
        std::string why;
        platform::FileHandle h = platform::openFile(path.c_str(), platform::OpenMode::ReadExisting);
        if (h == platform::kInvalidFile) {
            why = platform::errorMessage(platform::lastError());
        } else {
            platform::closeFile(h);
            why = firstError(log);
            if (why.empty()) why = "not a Windows executable";
        }
        std::fprintf(stderr, "orvanta sfx: cannot read %s: %s\n", cli::printable(path).c_str(),
                     cli::printable(why).c_str());
    }
    return image;
}

// Says that path has no archive to unpack; the exit status of a failure.
int notASelfExtractor(const std::string& path) {
    std::fprintf(stderr, "orvanta sfx: %s carries no \"%s\" resource: not a self-extractor\n",
                 cli::printable(path).c_str(), SfxResource::kZip);
    return 1;
}

// ---- sfx inspect -------------------------------------------------------------

// Opens the payload as it is stored, for its list of entries; false with
// *why set when it is encrypted or cannot be read.
bool openPayload(const StubParameters& p, ZipReader& reader, std::string* why) {
    if (p.encrypted) {
        *why = "encrypted payload: entries hidden until unpacked";
        return false;
    }
    if (reader.openSource(openZipPayload(p), why)) return true;
    *why = "the payload cannot be read: " + *why;
    return false;
}

int runInspect(int argc, char** argv) {
    static const std::vector<OptionRule> rules = {{"--json", false}};
    std::vector<ParsedOption> options;
    std::vector<std::string> rest;
    std::string problem;
    if (!parseCommandLine(argc, argv, rules, &options, &rest, &problem)) return usage("inspect", problem);
    if (rest.size() != 1) return usage("inspect", "sfx inspect takes one executable");
    bool json = !options.empty();

    std::unique_ptr<ExeImage> image = openSfx(rest[0]);
    if (!image) return 1;
    std::vector<StoredParameter> stored = storedParameters(*image);
    StubParameters p;
    readStubParameters(*image, p);
    StubMode mode = chooseStubMode(p);
    const char* machine = image->ntHeaders().isPe32Plus() ? "x86_64 (PE32+)" : "i386 (PE32)";
    ZipReader payload;
    std::string unreadable;
    const bool listed = p.hasZip && openPayload(p, payload, &unreadable);

    if (json) {
        std::string out = "{\n  \"file\": " + jsonString(rest[0]) + ",\n";
        out += std::string("  \"pe32plus\": ") + (image->ntHeaders().isPe32Plus() ? "true" : "false") + ",\n";
        out += "  \"resources\": [";
        for (size_t i = 0; i < stored.size(); i++) {
            const StoredParameter& r = stored[i];
            out += i ? ",\n    {" : "\n    {";
            out += "\"name\": " + jsonString(r.name) + ", \"size\": " + std::to_string(r.size);
            if (const StringBuffer* t = parameterText(p, r.name)) out += ", \"text\": " + jsonString(textOf(*t));
            if (r.name == SfxResource::kNoInterface) out += std::string(", \"present\": ") + (p.noInterface ? "true" : "false");
            if (r.name == SfxResource::kEncrypted) {
                out += ", \"wellFormed\": " + std::string(p.encryptedWellFormed ? "true" : "false");
                out += ", \"keyBits\": " + std::to_string(p.keyBits);
            }
            out += "}";
        }
        out += stored.empty() ? "],\n" : "\n  ],\n";
        out += std::string("  \"hasZip\": ") + (p.hasZip ? "true" : "false") + ",\n";
        out += "  \"payloadSize\": " + std::to_string(p.zipSize) + ",\n";
        out += std::string("  \"encrypted\": ") + (p.encrypted ? "true" : "false") + ",\n";
        out += "  \"keyBits\": " + (p.encrypted ? std::to_string(p.keyBits) : std::string("null")) + ",\n";
        out += "  \"entries\": ";
        if (!listed) out += "null,\n";
        for (size_t i = 0; listed && i < payload.entryCount(); i++) {
            const ZipEntry& e = payload.entry(i);
            out += i ? ",\n    {" : "[\n    {";
            out += "\"name\": " + jsonString(e.name, true) + ", \"size\": " + std::to_string(e.uncompressedSize) +
                   ", \"encrypted\": " + (e.encryption != ZipEntry::None ? "true" : "false") + "}";
        }
        if (listed) out += payload.entryCount() ? "\n  ],\n" : "[],\n";
        out += std::string("  \"mode\": \"") + modeName(mode) + "\"\n}\n";
        std::fputs(out.c_str(), stdout);
    } else {
        // Names and stored strings are anyone's bytes: escaped, so that
        // none can move the cursor or hide what follows.
        std::printf("%s: %s\n", cli::printable(rest[0]).c_str(), machine);
        std::printf("parameter resources (RT_RCDATA, in stored order):\n");
        if (stored.empty()) std::printf("  (none)\n");
        for (const StoredParameter& r : stored) {
            std::printf("  %-16s %10u bytes", cli::printable(r.name).c_str(), r.size);
            if (const StringBuffer* t = parameterText(p, r.name)) {
                std::printf("  \"%s\"", cli::printable(textOf(*t)).c_str());
            } else if (r.name == SfxResource::kEncrypted) {
                if (p.encryptedWellFormed) {
                    std::printf("  key length %u bits, password check block", p.keyBits);
                } else {
                    std::printf("  malformed (not %u bytes)", kEncryptedResourceSize);
                }
            } else if (r.name == SfxResource::kNoInterface) {
                std::printf("  silent");
            } else if (r.name == SfxResource::kZip) {
                std::printf("  %s", p.encrypted ? "the encrypted archive" : "the archive");
            }
            std::printf("\n");
        }
        std::printf("start-up mode: %s\n", modeName(mode));
        if (p.hasZip) {
            std::printf("payload: %u bytes%s\n", p.zipSize, p.encrypted ? ", encrypted (asks for a password)" : "");
            std::printf("entries:%s%s\n", listed ? "" : " ", listed ? "" : cli::printable(unreadable).c_str());
        }
        for (size_t i = 0; listed && i < payload.entryCount(); i++) {
            const ZipEntry& e = payload.entry(i);
            std::printf("  %-30s %12llu bytes%s\n", cli::printable(cli::forDisplay(e.name)).c_str(),
                        static_cast<unsigned long long>(e.uncompressedSize),
                        e.encryption != ZipEntry::None ? "  encrypted" : "");
        }
        std::string path, params;
        std::string folder = mode == StubMode::Interactive ? "<chosen folder>"
                             : p.unzipDir.isEmpty()       ? "<new temporary folder>"
                                                          : textOf(p.unzipDir);
        if (programToRun(p, mode, folder, &path, &params)) {
            std::printf("runs afterwards: %s%s%s\n", cli::printable(path).c_str(),
                        params.empty() ? "" : " with parameters ", cli::printable(params).c_str());
        }
    }
    if (!p.hasZip) return notASelfExtractor(rest[0]);
    return 0;
}

// ---- sfx extract -------------------------------------------------------------

// The stub's surroundings on a console: messages and progress on standard
// error, the password from the command line (or typed on a terminal), and
// programs named rather than started.
class ConsoleUi : public StubUi {
public:
    ConsoleUi(bool havePassword, const std::string& password)
        : havePassword_(havePassword), password_(password), terminal_(platform::isTerminal(stderr)) {}
    ~ConsoleUi() override { clearProgress(); }

    bool askPassword(StringBuffer& password) override {
        if (havePassword_) {
            password.assign(password_.c_str());
            return true;
        }
        if (!platform::isTerminal(stdin)) {
            std::fputs("orvanta sfx: this self-extractor is encrypted; give its password with -p PASSWORD or "
                       "--password-file FILE\n",
                       stderr);
            return false;
        }
        clearProgress();
        std::string typed, problem;
        if (!cli::askPassword("This self-extracting EXE is encrypted. Enter a password to unzip: ", false, &typed,
                              &problem)) {
            std::fprintf(stderr, "orvanta sfx: %s\n", problem.c_str());
            return false;
        }
        if (typed.size() > 499) typed.resize(499);  // the stub's password box takes 499 characters
        password.assign(typed.c_str());
        return true;
    }
    void showMessage(const char* text, const char* title) override {
        clearProgress();
        // The stub's messages are lines; what they quote (entry names,
        // folders) is escaped within each line.
        std::string lines, line;
        for (const char* c = text;; c++) {
            if (*c == '\n' || *c == 0) {
                if (!line.empty() && line.back() == '\r') line.pop_back();  // the stub's texts end lines with CR LF
                lines += cli::printable(line);
                if (*c == 0) break;
                lines += '\n';
                line.clear();
            } else {
                line += *c;
            }
        }
        std::fprintf(stderr, "orvanta sfx: %s: %s\n", cli::printable(title).c_str(), lines.c_str());
    }
    void setStatus(const char*) override {}
    void decryptProgress(uint32_t percent) override { showProgress("decrypting", percent); }
    void unzipProgress(uint32_t percent) override { showProgress("unzipping", percent); }
    bool runProgram(const char* path, const char* params, const char* workDir) override {
        clearProgress();
        std::printf("the self-extractor would now start %s", cli::printable(path).c_str());
        if (params && *params) std::printf(" with parameters \"%s\"", cli::printable(params).c_str());
        std::printf(" in %s (not started here)\n", cli::printable(workDir).c_str());
        return true;
    }
    // Removes the progress line, before other lines are written.
    void clearProgress() {
        if (!shown_) return;
        std::fprintf(stderr, "\r%30s\r", "");
        std::fflush(stderr);
        shown_ = false;
    }

private:
    void showProgress(const char* what, uint32_t percent) {
        if (!terminal_) return;
        std::fprintf(stderr, "\r%s %3u%%", what, percent > 100 ? 100 : percent);
        std::fflush(stderr);
        shown_ = true;
    }

    bool havePassword_;
    std::string password_;
    bool terminal_;
    bool shown_ = false;
};

int runExtract(int argc, char** argv) {
    static const std::vector<OptionRule> rules = {{"-d", true},  {"-p", true},  {"--password", true},
                                                  {"--password-file", true}, {"-o", false}, {"-n", false}};
    std::vector<ParsedOption> options;
    std::vector<std::string> rest;
    std::string problem;
    if (!parseCommandLine(argc, argv, rules, &options, &rest, &problem)) return usage("extract", problem);
    if (rest.size() != 1) return usage("extract", "sfx extract takes one executable");
    std::string folder;
    PasswordSource secret;
    bool overwrite = false, keepExisting = false;
    for (const ParsedOption& o : options) {
        if (o.name == "-d") folder = o.value;
        if (o.name == "-o") overwrite = true;
        if (o.name == "-n") keepExisting = true;
        secret.take(o);
    }
    if (secret.ways > 1) return usage("extract", "give the password one way only (-p/--password or --password-file)");
    if (!secret.obtain(&problem)) return usage("extract", problem);
    if (folder.empty()) {
        char cwd[4096];
        if (platform::currentDirectory(cwd, sizeof cwd) == 0) {
            std::fputs("orvanta sfx: cannot tell the current folder\n", stderr);
            return 1;
        }
        folder = cwd;
    }

    std::unique_ptr<ExeImage> image = openSfx(rest[0]);
    if (!image) return 1;
    StubParameters p;
    readStubParameters(*image, p);
    if (!p.hasZip) return notASelfExtractor(rest[0]);
    if (overwrite && keepExisting) return usage("extract", "-o and -n exclude each other");
    ConsoleUi ui(secret.ways > 0, secret.password);
    StubSession session(p, ui);
    cli::TerminalQuestion question;
    session.setExtractOptions(cli::extractOptions(overwrite, keepExisting, rest[0], &question));
    UnzipOutcome outcome = session.openAndUnzip(folder.c_str());
    ui.clearProgress();
    ZipExtractResult summary;
    summary.warnings = session.warnings();
    summary.refusedExisting = session.refusedExisting();
    cli::reportExtraction("orvanta sfx", summary);
    switch (outcome) {
        case UnzipOutcome::Unzipped: break;
        case UnzipOutcome::UnzipFailed:
            ui.showMessage(StubText::unzipFailed(folder.c_str(), session.failures()).c_str(), StubText::kErrorTitle);
            return 1;
        case UnzipOutcome::OpenFailed:
            if (!session.openError().empty())
                std::fprintf(stderr, "orvanta sfx: %s\n", session.openError().c_str());
            return 1;
        case UnzipOutcome::Cancelled:
        case UnzipOutcome::WrongPassword:
            return 1;  // the reason has been shown
    }
    std::printf("unpacked %s into %s", cli::printable(rest[0]).c_str(), cli::printable(folder).c_str());
    if (session.skipped()) std::printf(" (%u existing kept)", session.skipped());
    std::printf("\n");
    std::string path, params;
    if (programToRun(p, chooseStubMode(p), folder, &path, &params)) {
        ui.runProgram(path.c_str(), params.empty() ? nullptr : params.c_str(), folder.c_str());
    }
    return 0;
}

}  // namespace

bool describeSelfExtractor(const std::string& path, std::string* hint) {
    // Only a regular file: opening a pipe would wait for a writer.
    uint64_t size = 0;
    platform::FileHandle file = platform::openRegularFile(path.c_str(), &size);
    if (file == platform::kInvalidFile) return false;
    platform::closeFile(file);
    std::unique_ptr<ExeImage> image(ExeImage::loadFromFile(path.c_str(), nullptr));
    if (!image) return false;
    StubParameters p;
    readStubParameters(*image, p);
    if (!p.hasZip) return false;
    // The path as it would be typed again.
    std::string name = cli::printable(path);
    if (name.find(' ') != std::string::npos) name = "\"" + name + "\"";
    *hint = p.encrypted ? name + " is an encrypted self-extractor: unpack it with orvanta sfx extract " + name
                        : name + " is a self-extractor: see what it holds with orvanta sfx inspect " + name +
                              ", unpack it with orvanta sfx extract " + name;
    return true;
}

int runSfxCommand(int argc, char** argv) {
    if (argc < 1) return usageError("sfx", "");
    std::string verb = argv[0];
    if (verb == "build") return runBuild(argc - 1, argv + 1);
    if (verb == "inspect") return runInspect(argc - 1, argv + 1);
    if (verb == "extract") return runExtract(argc - 1, argv + 1);
    return usageError("sfx", "unknown sfx verb \"" + verb + "\"");
}
