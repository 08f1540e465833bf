# A PowerShell client of the Korvane automation server (late binding through New-Object).
#
# Usage:  powershell -ExecutionPolicy Bypass -File client.ps1 <in-file>
# Calls every member once, shows how a run-time error of the server arrives (error 6, Overflow)
# and exits with Quandrel's result code. Windows PowerShell and PowerShell 7, 32- or 64-bit.
param([Parameter(Mandatory = $true)][string]$InFile)

# COM starts the server in a folder of its own (on Windows %windir%\System32), and the server
# reads a command line from there: file names in it must be full paths. (.NET's current folder
# is not PowerShell's, so [IO.Path]::GetFullPath alone would resolve against the wrong one.)
$InFile = (Resolve-Path -LiteralPath $InFile -ErrorAction Stop).ProviderPath

$engine = New-Object -ComObject Korvane.QuandrelCom

# The log is per object: this object's calls are logged from now on (_debug.log beside
# QuandrelCom.exe).
$engine.EnableDebugLog($true)
"g_isDebug: $($engine.g_isDebug)"

# 0 is SW_HIDE; the result says whether the program started.
"RunCmd returned: $($engine.RunCmd('cmd.exe /c exit 0', 0, $true))"
"RunCmd2 returned: $($engine.RunCmd2('cmd.exe /c echo hello from RunCmd2', 0).Trim())"
$report = $engine.QuandrelRunCmd("-to html `"$InFile`" `"$InFile.ps1.html`"")
"QuandrelRunCmd returned: $($report.Trim())"

# Errors 53, 48 and 453 (engine library missing, not loadable, export missing) arrive as
# exceptions, like error 6 below.
$code = $engine.Quandrel("-to text `"$InFile`" `"$InFile.ps1.txt`"")
"Quandrel returned: $code"

try {
  [void]$engine.RunCmd('cmd.exe /c exit 0', 70000, $true)
  'No error where error 6 was expected'
} catch {
  # The COMException inside carries HRESULT 0x800A0000 + the error number.
  $inner = $_.Exception
  while ($inner.InnerException) { $inner = $inner.InnerException }
  "Error $($inner.HResult -band 0xFFFF) as expected: $($inner.Message)"
}

$engine.EnableDebugLog($false)
[void][System.Runtime.InteropServices.Marshal]::ReleaseComObject($engine)
exit $code
