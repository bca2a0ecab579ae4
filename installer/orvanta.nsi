; The Windows installer: orvanta-VERSION-setup.exe, made by scripts/release
; with makensis from the files staged for the Windows archive.
;   makensis -DVERSION=V -DSRC=STAGED_FOLDER -DOUTFILE=SETUP.exe orvanta.nsi
; Installs into Program Files, registers the two COM DLLs, adds a Start
; menu entry for the desktop program and writes an uninstaller that
; unregisters and removes everything it installed. /S installs silently.
Unicode true
Target x86-unicode
SetCompressor /SOLID lzma
SetDateSave on

Name "Orvanta ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES32\Orvanta"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Orvanta"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; A COM DLL that does not register leaves the installation unusable: say so
; and stop (silently installed: the message is skipped, the exit code is 2).
!macro Register dll
  ClearErrors
  RegDLL "$INSTDIR\${dll}"
  IfErrors 0 +3
    MessageBox MB_OK|MB_ICONSTOP "${dll} could not be registered." /SD IDOK
    Abort "${dll} could not be registered."
!macroend

Section "Orvanta"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${SRC}\orvanta.exe"
  File "${SRC}\orvantarun.exe"
  File "${SRC}\orvantahelp.chm"
  File "${SRC}\ads.html"
  File "${SRC}\sfxstub.exe"
  File "${SRC}\Tollan.dll"
  File "${SRC}\qvFileSys.dll"
  File "${SRC}\README-windows.txt"
  SetOutPath "$INSTDIR\x64"
  File "${SRC}\x64\orvanta.exe"
  SetOutPath "$INSTDIR\icons"
  File "${SRC}\icons\ov.ico"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Orvanta ${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Orvanta"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  !insertmacro Register "Tollan.dll"
  !insertmacro Register "qvFileSys.dll"
  CreateDirectory "$SMPROGRAMS\Orvanta"
  CreateShortCut "$SMPROGRAMS\Orvanta\Orvanta.lnk" "$INSTDIR\orvantarun.exe"
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  UnRegDLL "$INSTDIR\Tollan.dll"
  UnRegDLL "$INSTDIR\qvFileSys.dll"
  Delete "$SMPROGRAMS\Orvanta\Orvanta.lnk"
  RMDir "$SMPROGRAMS\Orvanta"
  Delete "$INSTDIR\orvanta.exe"
  Delete "$INSTDIR\orvantarun.exe"
  Delete "$INSTDIR\orvantahelp.chm"
  Delete "$INSTDIR\ads.html"
  Delete "$INSTDIR\sfxstub.exe"
  Delete "$INSTDIR\Tollan.dll"
  Delete "$INSTDIR\qvFileSys.dll"
  Delete "$INSTDIR\README-windows.txt"
  Delete "$INSTDIR\x64\orvanta.exe"
  RMDir "$INSTDIR\x64"
  Delete "$INSTDIR\icons\ov.ico"
  RMDir "$INSTDIR\icons"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
