' Converts a text document through the Korvane automation server, both ways:
'   QuandrelRunCmd runs the engine program beside the server and returns what it printed;
'   Quandrel calls the engine library inside the server and returns its result code.
'
' Usage: cscript //nologo convert.vbs <in-file>
'   writes <in-file> as HTML (through QuandrelRunCmd) and as plain text with LF line ends
'   (through Quandrel), next to the input, and shows both results.
Option Explicit

Dim inFile, htmlFile, textFile, engine, output, code

If WScript.Arguments.Count < 1 Then
  WScript.Echo "Usage: cscript //nologo convert.vbs <in-file>"
  WScript.Quit 1
End If
' COM starts the server in a folder of its own (on Windows %windir%\System32), and the server
' reads a command line from there: file names in it must be full paths.
inFile = CreateObject("Scripting.FileSystemObject").GetAbsolutePathName(WScript.Arguments(0))
htmlFile = inFile & ".server.html"
textFile = inFile & ".server.txt"

Set engine = CreateObject("Korvane.QuandrelCom")
engine.EnableDebugLog True

output = engine.QuandrelRunCmd("-to html """ & inFile & """ """ & htmlFile & """")
WScript.Echo "QuandrelRunCmd returned: " & output
ShowFile htmlFile

code = engine.Quandrel("-to text -eol lf """ & inFile & """ """ & textFile & """")
WScript.Echo "Quandrel returned: " & code
If code = 0 Then ShowFile textFile

WScript.Quit code

Sub ShowFile(path)
  Dim fso, stream
  Set fso = CreateObject("Scripting.FileSystemObject")
  If Not fso.FileExists(path) Then
    WScript.Echo "(" & path & " was not written)"
    Exit Sub
  End If
  Set stream = fso.OpenTextFile(path, 1)
  WScript.Echo "----- " & path
  If Not stream.AtEndOfStream Then WScript.Echo stream.ReadAll
  stream.Close
  WScript.Echo "-----"
End Sub
