// What the window logic asks of the widget layer: common file dialogs,
// message boxes, the other windows, starting a program, and a repaint
// while long work goes on. The Win32 layer implements it with the real
// dialogs; the tests with a scripted fake.
#pragma once

#include <cstdint>
#include <string>

class SfxWindow;

// Common-dialog flag bits the handlers use.
namespace DialogFlags {
constexpr uint32_t kOverwritePrompt = 0x2;    // Save: ask before replacing a file
constexpr uint32_t kMultiSelect = 0x200;      // Open: several files
constexpr uint32_t kOpenExisting = 0x281004;  // explorer style, long names, file must exist, hide read-only
constexpr uint32_t kOpenSeveral = 0x281204;   // the same with multiple selection
}  // namespace DialogFlags

struct FileDialog {
    enum Kind { Open, Save };
    Kind kind = Open;
    std::string title;
    std::string filter;         // "description|pattern|..." (a description alone has no pattern)
    std::string fileName;       // initial file name
    std::string initialFolder;  // empty: the dialog's own choice
    uint32_t flags = 0;
    uint32_t maxFileLength = 0;  // longest answer in characters; 0: the dialog's default
    std::string defaultExtension;  // added to a name typed without one; empty: none
};

// The three message styles of the program, named by their icon.
enum class MessageIcon {
    Information,  // warnings and errors: title "Warning"
    None,         // success, OK only
    Exclamation,  // the list messages and the help message
};

class WindowHost {
public:
    virtual ~WindowHost() = default;
    // Shows a file dialog. False when it was cancelled. With kMultiSelect
    // and several files chosen, the answer is the folder, then each name,
    // separated by NUL characters; otherwise one path.
    virtual bool fileDialog(const FileDialog& dialog, std::string* answer) = 0;
    virtual void message(const std::string& text, const std::string& title, MessageIcon icon) = 0;
    // The password window, not modal; showing it when shown only activates it.
    virtual void showPasswordWindow() = 0;
    // The SFX window and the About window, modal, owned by the main window.
    // The SFX window's commands are those of the given logic.
    virtual void showSfxWindow(SfxWindow& logic) = 0;
    virtual void showAboutWindow() = 0;
    // The advertisement window of the start-up.
    virtual void showAdvertisementWindow() = 0;
    // Starts a command line in a normal window without waiting; false when
    // it could not be started.
    virtual bool startProgram(const std::string& commandLine) = 0;
    // Ends the program at once, every window closing.
    virtual void endProgram() = 0;
    // The state changed during long work (the progress, a file written):
    // show it and answer the system (paint, timers) without taking input.
    virtual void busy() = 0;
};
