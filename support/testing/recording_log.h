// A log for tests: records errors and data items as lines
// ("error: <message>", "data: <name> = <value>") so tests can compare the
// exact sequence an operation reported.
#pragma once

#include <string>
#include <vector>

#include "support/log_base.h"

class RecordingLog : public LogNull {
public:
    std::vector<std::string> lines;

    bool logError(const char* m) override { lines.push_back(std::string("error: ") + (m ? m : "")); return true; }
    bool logInfo(const char* m) override { lines.push_back(std::string("info: ") + (m ? m : "")); return true; }
    bool logData(const char* n, const char* v) override {
        lines.push_back(std::string("data: ") + (n ? n : "") + " = " + (v ? v : ""));
        return true;
    }
    bool logDataInt(const char* n, uint32_t v) override {
        lines.push_back(std::string("data: ") + (n ? n : "") + " = " + std::to_string(v));
        return true;
    }
    bool hadError() override {
        for (auto& l : lines) if (l.rfind("error: ", 0) == 0) return true;
        return false;
    }
    // Only the error messages, in order.
    std::vector<std::string> errors() const {
        std::vector<std::string> out;
        for (auto& l : lines) if (l.rfind("error: ", 0) == 0) out.push_back(l.substr(7));
        return out;
    }
    bool has(const std::string& line) const {
        for (auto& l : lines) if (l == line) return true;
        return false;
    }
};
