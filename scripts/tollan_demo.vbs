' The builder as a script sees it: created by its ProgID, given a title, a
' caption and a folder to unpack into, asked for an AES-256 self-extractor.
'   cscript //nologo tollan_demo.vbs ZIP OUT.exe LOG.xml
Option Explicit
Dim t, zip, exe, logFile
zip = WScript.Arguments(0)
exe = WScript.Arguments(1)
logFile = WScript.Arguments(2)

Set t = CreateObject("Tollan.Tollan")
t.ExeTitle = "Orvanta samples (built by a script)"
t.ExeUnzipCaption = "Unpacking the samples"
t.ExeUnzipDir = "c:\OrvantaSamples"
On Error Resume Next
t.CreateExe3 zip, 256, "script password", exe
If Err.Number = 0 Then
    WScript.Echo "CreateExe3 wrote " & exe
Else
    WScript.Echo "CreateExe3 failed: " & Err.Source & ": " & Err.Description
End If
Err.Clear
' A build that cannot work, to show what a script gets back.
t.CreateExe zip & ".missing", exe & ".never"
WScript.Echo "a build from a missing zip raises error " & Hex(Err.Number) & " from " & Err.Source & ":"
WScript.Echo "  " & Replace(Err.Description, vbLf, vbLf & "  ")
On Error GoTo 0
t.SaveXmlLog logFile
WScript.Echo "the activity log is in " & logFile
