' Counts the files and folders below ROOT twice in one run: with the
' file-system helper's Enumerator (For Each over Items, recursive) and with
' a recursive walk through Scripting.FileSystemObject, and prints the count
' and seconds of each.
'   cscript //nologo walk_compare.vbs ROOT
Option Explicit
Dim root, e, item, n, t, fso
root = WScript.Arguments(0)

t = Timer
Set e = CreateObject("QVFileSys.Enumerator")
e.RootPath = root & "\"
e.NameMask = "*"
e.Recurse = True
n = 0
For Each item In e.Items
    n = n + 1
Next
WScript.Echo "enumerator " & n & " " & (Timer - t)

t = Timer
Set fso = CreateObject("Scripting.FileSystemObject")
n = Count(fso.GetFolder(root))
WScript.Echo "filesystemobject " & n & " " & (Timer - t)

Function Count(folder)
    Dim f, child, c
    c = 0
    For Each f In folder.Files
        c = c + 1
    Next
    For Each child In folder.SubFolders
        c = c + 1 + Count(child)
    Next
    Count = c
End Function
