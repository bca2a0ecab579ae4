// Helpers shared by the stub's tests and its fuzz target: a StubUi that
// records what the logic asked of it, and (from support_testing) folder
// listing and removal for the trees an unzip leaves behind.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sfxstub/stub_core.h"
#include "support/string_buffer.h"
#include "support/testing/tree_listing.h"

namespace stubtest {

struct ProgramRun {
    std::string path;
    bool hasParams = false;
    std::string params;
    std::string workDir;
};

class RecordingUi : public StubUi {
public:
    // Answers to the password dialog, in order; nullopt is Cancel. When
    // the queue is empty the dialog is cancelled.
    std::deque<std::optional<std::string>> passwords;
    bool runSucceeds = true;
    // Called on every unzip progress report (e.g. to look at the
    // temporary folder while the archive is open).
    std::function<void()> duringUnzip;

    int passwordAsks = 0;
    std::vector<std::pair<std::string, std::string>> messages;  // text, title
    std::vector<std::string> statuses;
    std::vector<uint32_t> decryptReports, unzipReports;
    std::vector<ProgramRun> runs;

    bool askPassword(StringBuffer& password) override {
        passwordAsks++;
        if (passwords.empty()) return false;
        std::optional<std::string> answer = passwords.front();
        passwords.pop_front();
        if (!answer) return false;
        password.assign(answer->c_str());
        return true;
    }
    void showMessage(const char* text, const char* title) override { messages.emplace_back(text, title); }
    void setStatus(const char* text) override { statuses.emplace_back(text); }
    void decryptProgress(uint32_t percent) override { decryptReports.push_back(percent); }
    void unzipProgress(uint32_t percent) override {
        unzipReports.push_back(percent);
        if (duringUnzip) duringUnzip();
    }
    bool runProgram(const char* path, const char* params, const char* workDir) override {
        runs.push_back({path, params != nullptr, params ? params : "", workDir ? workDir : ""});
        return runSucceeds;
    }
};

// The folder helpers of support_testing, also under the name the fuzz
// target uses.
using ::removeTree;

}  // namespace stubtest
