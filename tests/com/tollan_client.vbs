' A scripting client of the builder: creates it by its ProgID, sets its
' properties, builds self-extractors and reads a failure the way scripts
' do. One line per check: "ok <what>" or "FAIL <what>: <detail>".
'   cscript //nologo tollan_client.vbs build WORKDIR
'   cscript //nologo tollan_client.vbs unregistered
Option Explicit

Dim failures
failures = 0

Sub Check(cond, what, detail)
    If cond Then
        WScript.Echo "ok " & what
    Else
        WScript.Echo "FAIL " & what & ": " & detail
        failures = failures + 1
    End If
End Sub

Sub Build(work)
    Dim t
    Set t = CreateObject("Tollan.Tollan")
    Check TypeName(t) = "ITollan" Or TypeName(t) = "Tollan", "created by ProgID", TypeName(t)

    ' Defaults.
    Check t.UnzipToTemp = 1, "UnzipToTemp defaults to 1", t.UnzipToTemp
    Check t.ExeNoInterface = 0, "ExeNoInterface defaults to 0", t.ExeNoInterface
    Check t.ExeTitle = "" And VarType(t.ExeTitle) = vbString, "ExeTitle defaults to an empty string", VarType(t.ExeTitle)

    ' A script's True is -1; the flags read back as 1.
    t.UnzipToTemp = True
    Check t.UnzipToTemp = 1, "UnzipToTemp = True reads back 1", t.UnzipToTemp
    t.ExeNoInterface = True
    Check t.ExeNoInterface = 1, "ExeNoInterface = True reads back 1", t.ExeNoInterface
    t.ExeNoInterface = False

    ' Member names are matched in any case.
    t.exetitle = "Script title"
    Check t.ExeTitle = "Script title", "properties in any case", t.ExeTitle
    t.ExeUnzipCaption = "Unpacking..."
    t.ExeUnzipDir = "c:\scripted"
    t.AutoRunParams = "/quiet"

    Dim zip
    zip = work & "\payload.zip"
    On Error Resume Next
    t.CreateExe zip, work & "\plain.exe"
    Check Err.Number = 0, "CreateExe", Hex(Err.Number) & " " & Err.Description
    Err.Clear
    t.UnzipToTemp = False
    t.CreateExe2 zip, "setup.exe", work & "\program.exe"
    Check Err.Number = 0, "CreateExe2", Hex(Err.Number) & " " & Err.Description
    Err.Clear
    t.CreateExe3 zip, 193, "pass word", work & "\encrypted.exe"
    Check Err.Number = 0, "CreateExe3", Hex(Err.Number) & " " & Err.Description
    Err.Clear
    t.UnzipToTemp = True
    t.CreateExe4 zip, "setup.exe", 150, "pass word", work & "\both.exe"
    Check Err.Number = 0, "CreateExe4", Hex(Err.Number) & " " & Err.Description
    Err.Clear

    ' A failed build raises an error that names the builder.
    t.CreateExe work & "\missing.zip", work & "\never.exe"
    Check Err.Number = &H80004005, "failed CreateExe raises E_FAIL", Hex(Err.Number)
    Check Err.Source = "Tollan.Tollan", "error source", Err.Source
    Check InStr(Err.Description, "CreateExe") > 0, "error description names the method", Err.Description
    WScript.Echo "description " & Replace(Replace(Err.Description, vbCr, ""), vbLf, " | ")
    Err.Clear
    On Error GoTo 0

    ' The saved log is read by the test that runs this script.
    t.SaveXmlLog work & "\log.xml"
    On Error Resume Next
    t.SaveXmlLog work & "\no such folder\log.xml"
    Check Err.Number = 0, "SaveXmlLog into a missing folder raises nothing", Hex(Err.Number)
    On Error GoTo 0
    Set t = Nothing
End Sub

Sub Unregistered()
    Dim t
    On Error Resume Next
    Set t = CreateObject("Tollan.Tollan")
    Check Err.Number <> 0, "not creatable after unregistration", "created"
    On Error GoTo 0
End Sub

Select Case WScript.Arguments(0)
    Case "build"
        Build WScript.Arguments(1)
    Case "unregistered"
        Unregistered
End Select
If failures = 0 Then
    WScript.Echo "done"
Else
    WScript.Echo "failures " & failures
End If
WScript.Quit failures
