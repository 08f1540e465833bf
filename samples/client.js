// A JScript client of the Korvane automation server that calls every member once.
//
// Usage: cscript //nologo client.js <in-file>
//   Turns on the server's debug log (_debug.log beside QuandrelCom.exe), starts a command,
//   captures a command's output, converts <in-file> to HTML through the engine program
//   (QuandrelRunCmd) and to text through the engine library (Quandrel), and shows how a
//   run-time error of the server arrives (error 6, Overflow). Exits with Quandrel's result code.
if (WScript.Arguments.length < 1) {
  WScript.Echo("Usage: cscript //nologo client.js <in-file>");
  WScript.Quit(1);
}
// COM starts the server in a folder of its own (on Windows %windir%\System32), and the server
// reads a command line from there: file names in it must be full paths.
var fso = new ActiveXObject("Scripting.FileSystemObject");
var inFile = fso.GetAbsolutePathName(WScript.Arguments(0));

// Late binding by ProgID: works from 32- and 64-bit cscript alike.
var engine = new ActiveXObject("Korvane.QuandrelCom");

// The log is per object: this object's calls are logged from now on.
engine.EnableDebugLog(true);
WScript.Echo("g_isDebug: " + engine.g_isDebug);

// RunCmd(command line, show-window code, wait) returns true when the program started.
// 0 is SW_HIDE: no window appears.
var started = engine.RunCmd("cmd.exe /c exit 0", 0, true);
WScript.Echo("RunCmd returned: " + started);

// RunCmd2 waits and returns what the program wrote to standard output and error.
var output = engine.RunCmd2("cmd.exe /c echo hello from RunCmd2", 0);
WScript.Echo("RunCmd2 returned: " + output.replace(/\s+$/, ""));

// QuandrelRunCmd runs the engine program quandrel.dll beside the server and returns its report.
output = engine.QuandrelRunCmd('-to html "' + inFile + '" "' + inFile + '.js.html"');
WScript.Echo("QuandrelRunCmd returned: " + output.replace(/\s+$/, ""));

// Quandrel calls the engine library quandrelsdk.dll inside the server: 0 means success.
var code = engine.Quandrel('-to text "' + inFile + '" "' + inFile + '.js.txt"');
WScript.Echo("Quandrel returned: " + code);

// A show-window code outside -32768..32767 is refused with run-time error 6 (Overflow). JScript
// sees the HRESULT 0x800A0006 as a negative number; its low 16 bits are the error number.
try {
  engine.RunCmd("cmd.exe /c exit 0", 70000, true);
  WScript.Echo("No error where error 6 was expected");
} catch (e) {
  WScript.Echo("Error " + (e.number & 0xFFFF) + " as expected: " + e.description);
}

engine.EnableDebugLog(false);
engine = null;
WScript.Quit(code);
