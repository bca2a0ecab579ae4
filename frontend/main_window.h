// frontend: the desktop program's window logic apart from the widgets.
// Every click or change of the main window, the SFX window and the password
// window is
// a command here over a small state (the controls' texts, the two lists,
// the enabled flags of the busy set, the progress); commands call the zip
// engine, the file system and the WindowHost for dialogs and messages.
// The Win32 layer maps controls to MainWindowState and calls the commands.
//
// Owns: MainWindowState, MainWindow, the SFX window's logic (sfx_window.h),
// the file list both windows keep (file_list.h), the window texts, the
// scratch folders (scratch_folders.h), WindowHost (window_host.h). Uses:
// zipengine, support. Used by the desktop program's Win32 layer only.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "frontend/file_list.h"
#include "frontend/scratch_folders.h"
#include "frontend/sfx_window.h"
#include "frontend/window_host.h"

class ZipEngine;

// The buttons that long work disables, in the order they are disabled and
// enabled again.
enum class BusyButton {
    FBrowse, FileRemove, allClear, Mp3, Iconsel, delmp3, iconlistRem, Createalbum, cmdSystem, wwwbook, Command4
};
constexpr std::array<BusyButton, 11> kBusySet = {
    BusyButton::FBrowse,   BusyButton::FileRemove,  BusyButton::allClear,    BusyButton::Mp3,
    BusyButton::Iconsel,   BusyButton::delmp3,      BusyButton::iconlistRem, BusyButton::Createalbum,
    BusyButton::cmdSystem, BusyButton::wwwbook,     BusyButton::Command4};

// The controls the logic reads and writes, named as the window names them.
// The Win32 layer writes what the user types into the text fields (pas1,
// pas2, mp3text, DestDir through destDirChanged) and the list selections.
struct MainWindowState {
    // Upper half: files to zip.
    std::vector<std::string> FileList;  // full paths, duplicates allowed
    int FileListSelected = -1;          // index, or -1
    std::string FileListTip;
    std::string Text3;                  // count of FileList
    std::string zdir;
    std::string pas1;                   // password of a new archive
    // Lower half: the archive to unzip.
    std::string mp3text;                // path of the selected archive
    std::string Text6;                  // count of List1
    std::string pas2;                   // password for opening
    std::vector<std::string> List1;     // entry names of the archive opened last
    int List1Selected = -1;
    std::string List1Tip;
    std::string DestDir;
    int ProgressBar1 = 0;               // 0 to 100
    // Step 3: the icon of the self-extractor the main window builds.
    std::string iconlist;
    // The first scratch folder, for display (the logic uses its own copy).
    std::string Text4;
    // Enabled flags of the busy set, indexed by BusyButton.
    std::array<bool, 11> enabled = {true, true, true, true, true, true, true, true, true, true, true};
    bool isEnabled(BusyButton b) const { return enabled[size_t(b)]; }
    // A long command is running: further commands are refused.
    bool working = false;
    // The password window: its text box Text1.
    std::string passwordText;
};

struct MainWindowSetup {
    // The program's own folder (the help file lies there).
    std::string programFolder;
    // Where the scratch folders of this run are made; empty: the user's
    // temporary folder.
    std::string scratchParent;
    // Makes the engine of each command; empty: a default ZipEngine.
    std::function<std::unique_ptr<ZipEngine>()> newEngine;
};

class MainWindow {
public:
    MainWindow(WindowHost& host, MainWindowSetup setup = MainWindowSetup());
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    MainWindowState& state() { return state_; }
    const ScratchFolders& scratch() const { return scratch_; }

    // ---- The window as a whole --------------------------------------------
    void start();                 // start-up: the advertisement window
    void exitProgram();           // Command4, mnuExit
    void openHelp();              // mnuHelpfile (F1)
    void showAbout();             // mnuHelp_About
    void openSfxWindow();         // Command1, mnuOSF
    void fileListClicked();       // tooltip of FileList
    void list1Clicked();          // tooltip of List1
    void countsChanged();         // change of Text3 or Text6: rewrite both

    // ---- Zip creation -------------------------------------------------------
    void selectFiles();           // FBrowse, mnuSelectFiles
    void removeFile();            // FileRemove
    void clearAll();              // allClear
    void pickZipFolder();         // zipfolder
    void clearZipFolder();        // Command6
    void saveZip();               // wwwbook
    void saveZipFromMenu();       // mnuSOVFA

    // ---- Unzip --------------------------------------------------------------
    void selectAndOpenZip();      // Mp3
    void selectZipPathOnly();     // mnuSZF
    void openZipFromText();       // Command3
    void forgetZip();             // delmp3
    void unzipToPickedFolder();   // Command2
    void unzipBeside();           // Command5
    void unzipBesideFromMenu();   // mnuBr13
    void unzipToDestination();    // mnuUnzip
    void destDirChanged(const std::string& text);

    // ---- Self-extractors -----------------------------------------------------
    void buildSelfExtractor();    // Createalbum
    void pickIcon();              // Iconsel
    void removeIcon();            // iconlistRem
    void runBuilt();              // cmdSystem: the executable built last

    // ---- The password window ------------------------------------------------
    void passwordTextChanged(const std::string& text);  // every keystroke in Text1
    void passwordEnter();                               // Command1 "Enter password"
    void passwordCancel();                              // Command2 "Cancel" (the host closes it)

    // Where "unzip beside the archive" puts the files of the archive at
    // path: the path without the archive's own extension.
    static std::string besideFolder(const std::string& path);

private:
    class Work;
    std::unique_ptr<ZipEngine> newEngine();
    void saveZip(bool fromMenu);
    void unzipBeside(bool fromMenu);
    void fillList1(ZipEngine& engine);
    void warn(const std::string& text);
    // The folder picker shared by zdir and Command2: the picked folder
    // ending in a separator, or empty when cancelled.
    std::string pickFolder();
    bool selectZip(const std::string& title);
    FileListBox fileList();
    // Empties the first scratch folder and copies FileList flat into it;
    // false after telling the user why not.
    bool listIntoScratch(const char* emptyListWarning);

    WindowHost& host_;
    MainWindowSetup setup_;
    ScratchFolders scratch_;
    MainWindowState state_;
    std::unique_ptr<ZipEngine> zipFile_;  // ZipFile: the archive opened last
    std::string rememberedFolder_;
    std::string zipDialogFileName_;       // zipDialog1's file name, kept between saves
    std::string mp3DialogFileName_;       // Mp3Dialog's: the archive chosen last
    std::string saveDialogFileName_;      // SaveDialog's: the executable built last
};
