' Walks a folder with the file-system helper's Enumerator, created by
' ProgID, and prints the Path of every item in walk order, then "done".
'   cscript //nologo qvfilesys_client.vbs ROOT MASK RECURSE(0|1) EXCLUDED_EXT EXCLUDED_FOLDERS
' An exclusion argument of "-" leaves that list unset. With the single
' argument "unregistered" it prints whether creation fails, and its error.
Option Explicit
Dim args, e, item, count
Set args = WScript.Arguments
If args(0) = "unregistered" Then
    On Error Resume Next
    Set e = CreateObject("QVFileSys.Enumerator")
    If Err.Number <> 0 Then WScript.Echo "not creatable " & Hex(Err.Number) Else WScript.Echo "created"
    WScript.Quit
End If
Set e = CreateObject("QVFileSys.Enumerator")
e.RootPath = args(0)
e.NameMask = args(1)
e.Recurse = (args(2) = "1")
If args(3) <> "-" Then e.ExcludedExt = args(3)
If args(4) <> "-" Then e.ExcludedFolders = args(4)
count = 0
For Each item In e.Items
    WScript.Echo "item " & item.Path
    count = count + 1
Next
WScript.Echo "count " & count
WScript.Echo "done"
