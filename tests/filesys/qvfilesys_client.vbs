' Walks a folder with the file-system helper's Enumerator, created by
' ProgID, and prints what it finds, then "done".
'   cscript //nologo qvfilesys_client.vbs walk ROOT MASK RECURSE(0|1) EXCLUDED_EXT EXCLUDED_FOLDERS ATTRIBUTES
'     prints "item " & Path of every item in walk order, then the count.
'     An argument of "-" leaves that setting at its initial value.
'   cscript //nologo qvfilesys_client.vbs details ROOT MASK
'     walks recursively and prints each item's values, "|"-separated:
'     Name, ShortName, Ext, Path, Drive, Dir, DateLastModified as a number,
'     and Path asked for as PATH.
'   cscript //nologo qvfilesys_client.vbs unregistered
'     prints whether creation fails, and its error.
'   cscript //nologo qvfilesys_client.vbs batch DLL walk ROOT ...
'     registers DLL with regsvr32, does the walk, unregisters it again and
'     prints the exit codes of both regsvr32 runs.
Option Explicit
Dim args, e, item, shell, dll
Set args = WScript.Arguments
Select Case args(0)
Case "unregistered"
    On Error Resume Next
    Set e = CreateObject("QVFileSys.Enumerator")
    If Err.Number <> 0 Then WScript.Echo "not creatable " & Hex(Err.Number) Else WScript.Echo "created"
Case "batch"
    Set shell = CreateObject("WScript.Shell")
    dll = Chr(34) & args(1) & Chr(34)
    WScript.Echo "register " & shell.Run("regsvr32 /s " & dll, 0, True)
    Walk 2
    WScript.Echo "unregister " & shell.Run("regsvr32 /u /s " & dll, 0, True)
Case "details"
    Set e = CreateObject("QVFileSys.Enumerator")
    e.RootPath = args(1)
    e.NameMask = args(2)
    e.Recurse = True
    For Each item In e.Items
        WScript.Echo "detail " & item.Name & "|" & item.ShortName & "|" & item.Ext & "|" & item.Path & "|" & _
            item.Drive & "|" & item.Dir & "|" & CDbl(item.DateLastModified) & "|" & item.PATH
    Next
    WScript.Echo "done"
Case Else
    Walk 0
End Select

' The walk mode with its arguments starting at args(first).
Sub Walk(first)
    Dim count
    Set e = CreateObject("QVFileSys.Enumerator")
    e.RootPath = args(first + 1)
    e.NameMask = args(first + 2)
    e.Recurse = (args(first + 3) = "1")
    If args(first + 4) <> "-" Then e.ExcludedExt = args(first + 4)
    If args(first + 5) <> "-" Then e.ExcludedFolders = args(first + 5)
    If args(first + 6) <> "-" Then e.AttributeMask = CLng(args(first + 6))
    count = 0
    For Each item In e.Items
        WScript.Echo "item " & item.Path
        count = count + 1
    Next
    WScript.Echo "count " & count
    WScript.Echo "done"
End Sub
