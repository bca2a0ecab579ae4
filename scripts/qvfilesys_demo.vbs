' The folder walker as a script sees it: an Enumerator created by its
' ProgID lists the items below a folder whose names hold a "t",
' recursively, leaving out files and folders with the extension .ini, with
' each file's size and the shell's type name.
'   cscript //nologo qvfilesys_demo.vbs FOLDER
Option Explicit
Const qvfDirectory = 16   ' scripts do not see the type library's constants
Dim e, item
Set e = CreateObject("QVFileSys.Enumerator")
e.RootPath = WScript.Arguments(0) & "\"
e.NameMask = "*t*"
e.Recurse = True
e.ExcludedExt = "ini"
For Each item In e.Items
    If item.Attributes And qvfDirectory Then
        WScript.Echo "folder " & item.Path
    Else
        WScript.Echo "file   " & item.Path & " (" & item.FileSize & " bytes, " & item.TypeName & ")"
    End If
Next
