// The SFX window's logic apart from the widgets: its file list, the icon
// and the program to run, and the two builds of self-extractors (Model 1
// only unpacks, Model 2 also starts a program of the archive afterwards),
// each an optional password away from an AES-256 encrypted one.
//
// The window locks nothing while it builds: it is modal over the main
// window, and its commands run one at a time.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "frontend/file_list.h"
#include "frontend/window_host.h"

class ZipEngine;

struct SfxWindowState {
    std::vector<std::string> FileList;
    int FileListSelected = -1;
    std::string FileListTip;
    std::string Text3;      // count of FileList
    std::string iconlist;   // the icon for the executable; empty keeps the stub's
    std::string pas1;       // Model 1 password
    std::string mp3text;    // Model 2: the program to start after unpacking
    std::string pas2;       // Model 2 password
    std::string sfx2dir = "D:\\test\\333";
    std::string Text4;      // the scratch folder the builds pack
};

struct SfxWindowSetup {
    std::string programFolder;  // icons\ lies below it
    std::string scratchFolder;  // made when missing, emptied before each build
    std::function<std::unique_ptr<ZipEngine>()> newEngine;
};

class SfxWindow {
public:
    SfxWindow(WindowHost& host, SfxWindowSetup setup);
    SfxWindowState& state() { return state_; }

    void load();              // the icons folder and the default icon
    void selectFiles();       // FBrowse
    void removeFile();        // FileRemove
    void clearAll();          // allClear
    void fileListClicked();   // a click in FileList
    void pickIcon();          // Iconsel
    void removeIcon();        // iconlistRem
    void pickProgram();       // Mp3
    void removeProgram();     // Command1 "Remo&ve"
    void buildModel1();       // Createalbum
    void buildModel2();       // Command2
    void pickExtractFolder(); // Extract2: sfx2dir, for display only

private:
    void build(bool model2);
    FileListBox fileList();

    WindowHost& host_;
    SfxWindowSetup setup_;
    SfxWindowState state_;
    std::string saveFileName_;  // SaveDialog's file name, kept between builds
};

// The self-extractor's save dialog of both windows; initialFolder differs.
FileDialog exeSaveDialog(const std::string& fileName, const std::string& initialFolder);
// The icon dialog of both windows.
FileDialog iconDialog(const std::string& initialFolder);
// The default icon that ships beside the program: <folder>\icons\ov.ico.
std::string defaultIconPath(const std::string& programFolder);
