// Writes sample activity logs for the XML interop check: a non-ASCII file
// name, CDATA end markers in messages and values, multi-line messages,
// nested and unclosed contexts, a dated log and an empty log. Next to the
// logs it writes manifest.json: for every file, the leaf elements a parser
// must find, in document order, with the exact strings that were logged.
//
//   xml_log_sample OUTDIR
#include <cstdio>
#include <string>
#include <vector>

#include "support/logger.h"

namespace {

struct Leaf {
    std::string path;  // element names from the root, joined by "/"
    std::string kind;  // "data" or "message"
    std::string logged;
};

struct Sample {
    std::string file;
    bool dates = false;
    std::vector<Leaf> leaves;
};

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += char(c);  // UTF-8 passes through
        }
    }
    return out + "\"";
}

// Logs through the Logger and records what a reader must get back.
class Recorder {
public:
    explicit Recorder(Sample& s) : s_(s) { path_.push_back("VarnockLog"); }
    void enter(const char* name, bool verbose) {
        log.enterContext(name, verbose);
        path_.push_back(name);
    }
    void leave() {
        log.leaveContext();
        path_.pop_back();
    }
    // stored: the element name the log makes of name (trimmed, spaces as "_").
    void data(const char* name, const char* value, const char* stored = nullptr) {
        log.logData(name, value);
        s_.leaves.push_back({here() + "/" + (stored ? stored : name), "data", value});
    }
    void message(char level, const char* text) {
        if (level == 'E') log.logError(text);
        else if (level == 'I') log.logInfo(text);
        else log.logDebug(text);
        const char* tag = level == 'E' ? "error" : level == 'I' ? "info" : "debug";
        s_.leaves.push_back({here() + "/" + tag, "message", text});
    }
    Logger log;

private:
    std::string here() const {
        std::string p;
        for (auto& n : path_) p += (p.empty() ? "" : "/") + n;
        return p;
    }
    Sample& s_;
    std::vector<std::string> path_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: xml_log_sample OUTDIR\n");
        return 2;
    }
    std::string dir = std::string(argv[1]) + "/";
    std::vector<Sample> samples;
    bool ok = true;

    {
        Sample s;
        s.file = "nonascii.xml";
        Recorder r(s);
        r.enter("CreateExe3", true);
        r.data("filename", "Gr\xC3\xBC\xC3\x9F" "e/\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB.zip");
        r.message('E', "The system cannot find the file specified.");
        r.leave();
        ok &= r.log.saveXml(false, (dir + s.file).c_str());
        samples.push_back(s);
    }
    {
        Sample s;
        s.file = "markers.xml";
        Recorder r(s);
        r.enter("CreateExe", true);
        r.message('I', "a message with ]]> inside");
        r.message('E', "both <![CDATA[ and ]]> in one message");
        r.data("both_markers", "<![CDATA[x]]> & <y>");
        r.data("lt_and_end", "a<b ]]> c");
        r.data("end_only", "]]>");
        r.data("ends_in_brackets", "x < y]]");
        r.enter("Inner", false);
        r.message('E', "first line\r\nsecond line\nthird <b> & ]]> end");
        r.data(" resource name ", "\"quoted\" & 'single'", "resource_name");
        r.enter("Deepest", false);
        r.message('D', "tab\tseparated");
        r.leave();
        r.leave();
        r.message('I', "line one\r\n\r\nline two");
        r.leave();
        r.enter("NeverLeft", true);
        r.message('I', "still open ]]>");
        ok &= r.log.saveXml(false, (dir + s.file).c_str());
        samples.push_back(s);
    }
    {
        Sample s;
        s.file = "dated.xml";
        s.dates = true;
        Recorder r(s);
        r.enter("SaveXmlLog", true);
        r.message('I', "dated <entry>");
        r.message('E', "two\r\nlines");
        r.leave();
        ok &= r.log.saveXml(true, (dir + s.file).c_str());
        samples.push_back(s);
    }
    {
        Sample s;
        s.file = "empty.xml";
        Logger log;
        log.enterContext("Nothing", true);
        log.leaveContext();
        ok &= log.saveXml(false, (dir + s.file).c_str());
        samples.push_back(s);
    }

    std::string json = "[\n";
    for (size_t i = 0; i < samples.size(); i++) {
        const Sample& s = samples[i];
        json += " {\"file\": " + jsonString(s.file) + ", \"dates\": " + (s.dates ? "true" : "false") +
                ", \"leaves\": [";
        for (size_t j = 0; j < s.leaves.size(); j++) {
            const Leaf& l = s.leaves[j];
            json += std::string(j ? "," : "") + "\n  {\"path\": " + jsonString(l.path) +
                    ", \"kind\": " + jsonString(l.kind) + ", \"logged\": " + jsonString(l.logged) + "}";
        }
        json += "]}" + std::string(i + 1 < samples.size() ? "," : "") + "\n";
    }
    json += "]\n";
    FILE* f = std::fopen((dir + "manifest.json").c_str(), "wb");
    if (!f || std::fwrite(json.data(), 1, json.size(), f) != json.size()) ok = false;
    if (f) std::fclose(f);
    if (!ok) {
        std::fprintf(stderr, "xml_log_sample: writing a log failed\n");
        return 1;
    }
    return 0;
}
