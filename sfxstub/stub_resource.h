// Resource ids of the self-extractor stub, shared by sfxstub.rc and the
// dialog code. Plain #defines: the resource compiler reads this file too.
#pragma once

#define IDI_STUB_GROUP 137          // the icon group (its one image set)

#define IDS_MAIN_TITLE 103          // "TOLLAN": hidden main window's title
#define IDS_MAIN_CLASS 109          // "SELFEXTRACT": its window class

#define IDD_UNZIP 129               // the unzip dialog
#define IDD_PASSWORD 130            // the password dialog
#define IDD_PROGRESS 138            // the progress dialog of the automatic run

// Unzip dialog 129.
#define IDC_UNZIP 1001              // default button "Unzip"
#define IDC_FOLDER 1003             // folder edit
#define IDC_BROWSE 1004             // "Browse"
#define IDC_STATUS 1009             // status label
// Password dialog 130.
#define IDC_PASSWORD 1007           // password edit
// Progress dialog 138.
#define IDC_DECRYPT_LABEL 1011      // "Decrypt Progress:"
#define IDC_DECRYPT_BAR 1010
#define IDC_UNZIP_LABEL 1012        // "Unzip Progress:" or the caption
// Both 129 and 138.
#define IDC_UNZIP_BAR 1008

// Command the progress dialog's timer posts to start the automatic run.
#define IDC_START_AUTOMATIC 1002
