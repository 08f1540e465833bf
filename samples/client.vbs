' A VBScript client of the Korvane automation server that calls every member once.
'
' Usage: cscript //nologo client.vbs <in-file>
'   Turns on the server's debug log (_debug.log beside QuandrelCom.exe), starts a command,
'   captures a command's output, converts <in-file> to HTML through the engine program
'   (QuandrelRunCmd) and to text through the engine library (Quandrel), and shows how a
'   run-time error of the server arrives (error 6, Overflow). Exits with Quandrel's result code.
Option Explicit

Dim inFile, engine, started, output, code

If WScript.Arguments.Count < 1 Then
  WScript.Echo "Usage: cscript //nologo client.vbs <in-file>"
  WScript.Quit 1
End If
' COM starts the server in a folder of its own (on Windows %windir%\System32), and the server
' reads a command line from there: file names in it must be full paths.
inFile = CreateObject("Scripting.FileSystemObject").GetAbsolutePathName(WScript.Arguments(0))

' Late binding by ProgID: works from 32- and 64-bit cscript alike.
Set engine = CreateObject("Korvane.QuandrelCom")

' The log is per object: this object's calls are logged from now on.
engine.EnableDebugLog True
WScript.Echo "g_isDebug: " & engine.g_isDebug

' RunCmd(command line, show-window code, wait) returns True when the program started.
' 0 is SW_HIDE: no window appears.
started = engine.RunCmd("cmd.exe /c exit 0", 0, True)
WScript.Echo "RunCmd returned: " & started

' RunCmd2 waits and returns what the program wrote to standard output and error.
output = engine.RunCmd2("cmd.exe /c echo hello from RunCmd2", 0)
WScript.Echo "RunCmd2 returned: " & Trim(Replace(output, vbCrLf, " "))

' QuandrelRunCmd runs the engine program quandrel.dll beside the server and returns its report.
output = engine.QuandrelRunCmd("-to html """ & inFile & """ """ & inFile & ".vbs.html""")
WScript.Echo "QuandrelRunCmd returned: " & Trim(Replace(output, vbCrLf, " "))

' Quandrel calls the engine library quandrelsdk.dll inside the server: 0 means success.
' Errors 53 (no quandrelsdk.dll beside the server), 48 (it cannot be loaded) and 453 (it lacks
' KorvaneQuandrelConverter) arrive as run-time errors, like error 6 below.
code = engine.Quandrel("-to text """ & inFile & """ """ & inFile & ".vbs.txt""")
WScript.Echo "Quandrel returned: " & code

' A show-window code outside -32768..32767 is refused with run-time error 6 (Overflow).
On Error Resume Next
engine.RunCmd "cmd.exe /c exit 0", 70000, True
If Err.Number <> 0 Then
  WScript.Echo "Error " & Err.Number & " as expected: " & Err.Description
Else
  WScript.Echo "No error where error 6 was expected"
End If
Err.Clear
On Error GoTo 0

engine.EnableDebugLog False
Set engine = Nothing
WScript.Quit code
