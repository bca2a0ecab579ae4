// Resource and control ids of orvantarun: the main window's controls (named
// as the window names them), its menu commands, and the password window.
// Shared by the resource script, the program and the tests' scripts.
#pragma once

// ---- Main window controls ------------------------------------------------
// Zip: files to be zipped.
#define IDC_FBROWSE        1001
#define IDC_LABEL3         1002
#define IDC_TEXT3          1003
#define IDC_LABEL4         1004
#define IDC_FILELIST       1005
#define IDC_FILEREMOVE     1006
#define IDC_ALLCLEAR       1007
#define IDC_ZIPFOLDER      1008
#define IDC_ZDIR           1009
#define IDC_COMMAND6       1010
#define IDC_WWWBOOK        1011
#define IDC_LABEL8         1012
#define IDC_PAS1           1013
// Unzip: the archive to be unzipped.
#define IDC_LABEL5         1020
#define IDC_MP3            1021
#define IDC_MP3TEXT        1022
#define IDC_DELMP3         1023
#define IDC_TEXT6          1024
#define IDC_LABEL7         1025
#define IDC_LABEL9         1026
#define IDC_PAS2           1027
#define IDC_LIST1          1028
#define IDC_LABEL6         1029
#define IDC_COMMAND2       1030
#define IDC_DESTDIR        1031
#define IDC_COMMAND5       1032
#define IDC_COMMAND3       1033
#define IDC_PROGRESSBAR1   1034
// Self-extractors and the folders the program works in.
#define IDC_STEP1          1040
#define IDC_STEP3          1041
#define IDC_LABEL2         1042
#define IDC_LABEL1         1043
#define IDC_ICONSEL        1044
#define IDC_ICONLIST       1045
#define IDC_ICONLISTREM    1046
#define IDC_CREATEALBUM    1047
#define IDC_CMDSYSTEM      1048
#define IDC_COMMAND1       1049
#define IDC_TEXT4          1050
#define IDC_TEXT2          1051
#define IDC_TEXT1          1052
#define IDC_TEXT5          1053
#define IDC_TEXT7          1054
#define IDC_SCRATCHLABEL   1055
#define IDC_FOLDERSLABEL   1056
#define IDC_COMMAND4       1060
#define IDC_ZIPGROUP       1070
#define IDC_UNZIPGROUP     1071
#define IDC_SFXGROUP       1072

// ---- Menus ----------------------------------------------------------------
#define IDR_MAINMENU       100
#define IDR_ACCELERATORS   101
#define IDM_SOVFA          2001
#define IDM_UNZIP          2002
#define IDM_BR13           2003
#define IDM_EXIT           2004
#define IDM_SELECTFILES    2010
#define IDM_SZF            2011
#define IDM_OSF            2012
#define IDM_HELPFILE       2020
#define IDM_HELP_ABOUT     2021

// ---- The password window ---------------------------------------------------
// "Enter password" is IDOK (the Enter key) and "Cancel" IDCANCEL (Esc).
#define IDD_PASSWORD       200
#define IDC_PW_TEXT1       201

// ---- The SFX window --------------------------------------------------------
// "&Exit" is IDCANCEL (Esc).
#define IDD_SFX              300
#define IDC_SFX_FBROWSE      301
#define IDC_SFX_TEXT3        302
#define IDC_SFX_LABEL4       303
#define IDC_SFX_FILELIST     304
#define IDC_SFX_FILEREMOVE   305
#define IDC_SFX_ALLCLEAR     306
#define IDC_SFX_LABEL1       307
#define IDC_SFX_ICONSEL      308
#define IDC_SFX_ICONLIST     309
#define IDC_SFX_ICONLISTREM  310
#define IDC_SFX_LABEL2       311
#define IDC_SFX_LABEL5       312
#define IDC_SFX_LABEL8       313
#define IDC_SFX_PAS1         314
#define IDC_SFX_CREATEALBUM  315
#define IDC_SFX_LABEL3       316
#define IDC_SFX_LABEL6       317
#define IDC_SFX_MP3          318
#define IDC_SFX_MP3TEXT      319
#define IDC_SFX_COMMAND1     320
#define IDC_SFX_LABEL9       321
#define IDC_SFX_PAS2         322
#define IDC_SFX_COMMAND2     323
#define IDC_SFX_EXTRACT2     325
#define IDC_SFX_SFX2DIR      326
#define IDC_SFX_TEXT4        327
#define IDC_SFX_FOLDERS      328

// ---- The About window --------------------------------------------------------
#define IDD_ABOUT            400
#define IDC_ABOUT_LABEL1     401
#define IDC_ABOUT_LABEL3     402
#define IDC_ABOUT_LABEL2     403
#define IDC_ABOUT_LABEL4     404
#define IDC_ABOUT_LABEL5     405

// ---- The advertisement window -----------------------------------------------
#define IDC_ADS_TEXT1        501
#define IDC_ADS_PAGE         502
