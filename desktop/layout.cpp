#include "desktop/layout.h"

#include <commctrl.h>

#include "desktop/resource.h"

namespace {

constexpr DWORD kButton = BS_PUSHBUTTON | WS_TABSTOP;
constexpr DWORD kEdit = ES_AUTOHSCROLL | WS_TABSTOP;
// Counts and folders the program fills; the user reads them only.
constexpr DWORD kShown = ES_AUTOHSCROLL | ES_READONLY;
constexpr DWORD kCount = ES_CENTER | ES_READONLY;
constexpr DWORD kLabel = SS_LEFT | SS_NOPREFIX;
constexpr DWORD kList = LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP;
constexpr DWORD kGroup = BS_GROUPBOX;

const char kListCountTip[] = "The text box will show the amount of selected files.";
const char kReplaceTip[] = "This one is system default component, you can  select one to replace it.";
const char kRemoveItemTip[] = "Remove selected item in the file list box.";

}  // namespace

const ControlSpec kControls[] = {
    // Step 1: the files to be zipped.
    {IDC_ZIPGROUP, WC_BUTTONA, "", kGroup, 8, 6, 378, 374, nullptr, false},
    {IDC_STEP1, WC_STATICA, " Step 1:", kLabel, 20, 22, 72, 18, nullptr, true},
    {IDC_LABEL3, WC_STATICA, " Select files to be Zipped", kLabel, 94, 22, 282, 18, nullptr, false},
    {IDC_FBROWSE, WC_BUTTONA, "&Select files...", kButton, 20, 46, 130, 26,
     "Selecting files for a new zip file by  ctrl + mouse left key  and shift + mouse left key.", false},
    {IDC_TEXT3, WC_EDITA, "0", kCount, 160, 48, 48, 22, kListCountTip, false},
    {IDC_LABEL4, WC_STATICA, "Files Selected", kLabel, 214, 51, 120, 18, nullptr, false},
    {IDC_FILELIST, WC_LISTBOXA, "", kList, 20, 80, 262, 178, nullptr, false},
    {IDC_FILEREMOVE, WC_BUTTONA, "&Remove", kButton, 290, 80, 84, 26, kRemoveItemTip, false},
    {IDC_ALLCLEAR, WC_BUTTONA, "&Clear All", kButton, 290, 112, 84, 26, "Remove all items in file list box.", false},
    {IDC_ZIPFOLDER, WC_BUTTONA, "Select f&older ...", kButton, 20, 266, 130, 26, nullptr, false},
    {IDC_ZDIR, WC_EDITA, "", kEdit, 158, 268, 124, 22, nullptr, false},
    {IDC_COMMAND6, WC_BUTTONA, "R&emove", kButton, 290, 266, 84, 26, kRemoveItemTip, false},
    {IDC_LABEL8, WC_STATICA, " Set Password (Optional)", kLabel, 20, 302, 200, 18, nullptr, false},
    {IDC_PAS1, WC_EDITA, "", kEdit, 20, 322, 170, 22, nullptr, false},
    {IDC_WWWBOOK, WC_BUTTONA, "Save &Zip As...", kButton, 198, 318, 176, 30, nullptr, false},

    // Step 2: the archive to be unzipped.
    {IDC_UNZIPGROUP, WC_BUTTONA, "", kGroup, 394, 6, 378, 374, nullptr, false},
    {IDC_STEP3, WC_STATICA, " Step 2 :", kLabel, 406, 22, 72, 18, nullptr, true},
    {IDC_LABEL5, WC_STATICA, " Select the Zip archive to be unzipped", kLabel, 480, 22, 284, 18, nullptr, false},
    {IDC_MP3, WC_BUTTONA, "S&elect Zip File", kButton, 406, 46, 120, 26,
     "Click this button to select an zip archive to be unzipped.", false},
    {IDC_MP3TEXT, WC_EDITA, "", kEdit, 532, 48, 148, 22, kReplaceTip, false},
    {IDC_DELMP3, WC_BUTTONA, "Re&move", kButton, 686, 46, 78, 26, "Remove all in the left text box.", false},
    {IDC_COMMAND3, WC_BUTTONA, "&Open Zip", kButton, 406, 78, 120, 26, nullptr, false},
    {IDC_TEXT6, WC_EDITA, "0", kCount, 532, 80, 48, 22, kListCountTip, false},
    {IDC_LABEL7, WC_STATICA, "Zipped Files", kLabel, 586, 83, 120, 18, nullptr, false},
    {IDC_LABEL9, WC_STATICA, " Set Password (Optional)", kLabel, 406, 113, 172, 18, nullptr, false},
    {IDC_PAS2, WC_EDITA, "", kEdit, 580, 110, 184, 22, nullptr, false},
    {IDC_LIST1, WC_LISTBOXA, "", kList, 406, 138, 358, 128, nullptr, false},
    {IDC_LABEL6, WC_STATICA, " Enter an unzip destination directory", kLabel, 406, 272, 300, 18, nullptr, false},
    {IDC_DESTDIR, WC_EDITA, "", kEdit, 406, 292, 358, 22, nullptr, false},
    {IDC_COMMAND2, WC_BUTTONA, "&Unzip to folder ......", kButton, 406, 320, 176, 28, nullptr, false},
    {IDC_COMMAND5, WC_BUTTONA, "&Unzip to current folder", kButton, 588, 320, 176, 28, nullptr, false},
    {IDC_PROGRESSBAR1, PROGRESS_CLASSA, "", PBS_SMOOTH, 406, 354, 358, 16, nullptr, false},

    // Step 3: self-extractors, and the folders the program works in.
    {IDC_SFXGROUP, WC_BUTTONA, "", kGroup, 8, 386, 764, 226, nullptr, false},
    {IDC_LABEL2, WC_STATICA, " Step 3 :", kLabel, 20, 402, 72, 18, nullptr, true},
    {IDC_LABEL1, WC_STATICA, " Select items for SFX. (Optional). \r\n  ", kLabel | SS_NOTIFY, 94, 402, 440, 34,
     "These are optional items, system default items are as below text boxes if you skip Step 2.", false},
    {IDC_ICONSEL, WC_BUTTONA, "Se&lect icon", kButton, 20, 440, 120, 26,
     "Click this button to select an icon for album *.exe file.", false},
    {IDC_ICONLIST, WC_EDITA, "C:\\tempcalyx\\icon\\calyx.ico", kEdit, 148, 442, 300, 22, kReplaceTip, false},
    {IDC_ICONLISTREM, WC_BUTTONA, "Rem&ove", kButton, 456, 440, 80, 26, nullptr, false},
    {IDC_CREATEALBUM, WC_BUTTONA, "&Build SFX File", kButton, 20, 474, 140, 28,
     "This will popup a ms-dos screen firstly for editing images,then you need to type text to save images as  "
     "*.exe file.",
     false},
    {IDC_CMDSYSTEM, WC_BUTTONA, "Ru&n ", kButton, 168, 474, 90, 28, "Run album *.exe file you just build.", false},
    {IDC_COMMAND1, WC_BUTTONA, "O&pen SFX Form", kButton, 266, 474, 150, 28, nullptr, false},
    {IDC_SCRATCHLABEL, WC_STATICA, "Scratch folders", kLabel, 20, 512, 200, 18, nullptr, false},
    {IDC_TEXT4, WC_EDITA, "", kShown, 20, 532, 368, 22, nullptr, false},
    {IDC_TEXT2, WC_EDITA, "", kShown, 396, 532, 368, 22, nullptr, false},
    {IDC_FOLDERSLABEL, WC_STATICA, "Other folders", kLabel, 20, 560, 200, 18, nullptr, false},
    {IDC_TEXT1, WC_EDITA, "c:\\Aoutputcalyx", kShown, 20, 580, 240, 22, nullptr, false},
    {IDC_TEXT5, WC_EDITA, "C:\\windows\\image210", kShown, 268, 580, 240, 22, nullptr, false},
    {IDC_TEXT7, WC_EDITA, "c:\\wwwalbum", kShown, 516, 580, 248, 22, nullptr, false},

    {IDC_COMMAND4, WC_BUTTONA, "E&xit", kButton, 672, 620, 100, 30, "Exit this program.", false},
};

const size_t kControlCount = sizeof kControls / sizeof kControls[0];
