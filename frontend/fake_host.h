// The window logic's tests: a WindowHost that answers the file dialogs
// from a script (nullopt cancels) and records messages, started programs
// and the windows shown.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "frontend/window_host.h"

using Message = std::tuple<std::string, std::string, MessageIcon>;

// Answers the dialogs from a script (nullopt cancels) and records the rest.
struct FakeHost : WindowHost {
    std::deque<std::optional<std::string>> answers;
    std::vector<FileDialog> dialogs;
    std::vector<Message> messages;
    std::vector<std::string> started;
    int passwordWindows = 0, sfxWindows = 0, busyCalls = 0;
    std::function<void()> duringDialog;

    bool fileDialog(const FileDialog& d, std::string* answer) override {
        dialogs.push_back(d);
        if (duringDialog) duringDialog();
        std::optional<std::string> a = answers.empty() ? std::nullopt : answers.front();
        if (!answers.empty()) answers.pop_front();
        if (a) *answer = *a;
        return a.has_value();
    }
    void message(const std::string& t, const std::string& title, MessageIcon i) override {
        messages.emplace_back(t, title, i);
    }
    void showPasswordWindow() override { passwordWindows++; }
    void showSfxWindow(SfxWindow&) override { sfxWindows++; }
    void showAboutWindow() override {}
    void showAdvertisementWindow() override {}
    bool startSucceeds = true;
    bool startProgram(const std::string& c) override { return started.push_back(c), startSucceeds; }
    void endProgram() override {}
    void busy() override { busyCalls++; }
};

inline Message warning(const std::string& text) { return {text, "Warning", MessageIcon::Information}; }
inline Message success(const std::string& text) { return {text, "Orvanta", MessageIcon::None}; }

