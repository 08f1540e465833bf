@echo off
rem Converts a text file to HTML and to plain text with quandrelcmd.exe, which calls the engine
rem library quandrelsdk.dll in its own folder and exits with the engine's result code.
rem
rem Usage: convert.cmd <in-file>
rem   Run it from the folder that holds quandrelcmd.exe, or set QUANDRELCMD to its full path.
setlocal
if "%~1"=="" (
  echo Usage: convert.cmd ^<in-file^>
  exit /b 1
)
if not defined QUANDRELCMD set "QUANDRELCMD=%~dp0..\quandrelcmd.exe"
if not exist "%QUANDRELCMD%" (
  echo convert.cmd: quandrelcmd.exe not found at "%QUANDRELCMD%"; set QUANDRELCMD to its path.
  exit /b 2
)

"%QUANDRELCMD%" -to html "%~1" "%~1.cmd.html"
set code=%errorlevel%
echo quandrelcmd -to html exited with %code%
if not "%code%"=="0" exit /b %code%

"%QUANDRELCMD%" -to text -eol lf "%~1" "%~1.cmd.txt"
set code=%errorlevel%
echo quandrelcmd -to text exited with %code%
exit /b %code%
