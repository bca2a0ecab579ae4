// The list of files to pack as both windows keep it (the main window and
// the SFX window have the same list box, buttons and messages): choosing
// files through the multi-select dialog, removing, clearing, the tooltip
// of the entry clicked last, and the flat copy into a scratch folder that
// the engine then packs.
#pragma once

#include <string>
#include <vector>

#include "frontend/window_host.h"

struct FileListBox {
    std::vector<std::string>& files;  // FileList: full paths, duplicates allowed
    int& selected;                    // its selection, or -1
    std::string& count;               // Text3
    std::string& tip;                 // the list's tooltip

    // FBrowse: appends what the dialog answers (one path, or the folder
    // and the names NUL-separated); a cancel changes nothing.
    void select(WindowHost& host);
    // FileRemove and allClear, with their messages for an empty list.
    void removeSelected(WindowHost& host);
    void clear(WindowHost& host);
    // A click in the list: the tooltip shows the entry.
    void clicked();
};

// Copies the files flat into folder under their file names. Two different
// files of one name would keep only the later one, so that is refused with
// a warning naming them; a file that cannot be copied is named too. False
// after such a warning. busy is called after every file.
bool copyFlat(WindowHost& host, const std::vector<std::string>& files, const std::string& folder);

// The warning style of the program: information icon, title "Warning".
void warn(WindowHost& host, const std::string& text);

// File names compared as the system compares them (ASCII case ignored).
bool sameFileName(const std::string& a, const std::string& b);
