Attribute VB_Name = "ClientEarly"
' A VBA client of the Korvane automation server through early binding (Excel, Word, Access...).
'
' Set up: Tools > References > Browse..., choose QuandrelCom.tlb (or QuandrelCom.exe) from the
' installed folder; the library appears as "Korvane". Then import this module (File > Import
' File) and run ConvertEarly with an existing text file.
' The variable is typed as the interface, so calls go through the vtable and the editor knows
' every member. 32- and 64-bit Office alike.
Option Explicit

Public Sub ConvertEarly(Optional ByVal inFile As String = "C:\Temp\notes.txt")
    Dim engine As Korvane.QuandrelCom
    Dim code As Long

    ' COM starts the server in a folder of its own (on Windows %windir%\System32), and the
    ' server reads a command line from there: file names in it must be full paths.
    inFile = CreateObject("Scripting.FileSystemObject").GetAbsolutePathName(inFile)
    Set engine = New Korvane.QuandrelCom

    ' The log is per object: this object's calls are logged from now on (_debug.log beside
    ' QuandrelCom.exe).
    engine.EnableDebugLog True
    Debug.Print "g_isDebug: " & engine.g_isDebug

    ' 0 is SW_HIDE (vbHide); the result says whether the program started.
    Debug.Print "RunCmd returned: " & engine.RunCmd("cmd.exe /c exit 0", vbHide, True)
    Debug.Print "RunCmd2 returned: " & Trim$(engine.RunCmd2("cmd.exe /c echo hello from RunCmd2", vbHide))
    Debug.Print "QuandrelRunCmd returned: " & _
        engine.QuandrelRunCmd("-to html """ & inFile & """ """ & inFile & ".vba.html""")

    ' Errors 53, 48 and 453 (engine library missing, not loadable, export missing) arrive as
    ' run-time errors, like error 6 below.
    code = engine.Quandrel("-to text """ & inFile & """ """ & inFile & ".vba.txt""")
    Debug.Print "Quandrel returned: " & code

    ' A show-window code outside -32768..32767 is refused with run-time error 6 (Overflow).
    On Error Resume Next
    engine.RunCmd "cmd.exe /c exit 0", 70000, True
    If Err.Number <> 0 Then Debug.Print "Error " & Err.Number & " as expected: " & Err.Description
    Err.Clear
    On Error GoTo 0

    engine.EnableDebugLog False
    Set engine = Nothing
End Sub
