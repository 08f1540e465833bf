@echo off
rem Registers QuandrelCom.exe from this folder: machine-wide (needs an elevated prompt), or with
rem /user for the current user only. Exits with the server's own exit code (0 on success).
setlocal
set "scope=machine"
if "%~1"=="" goto run
if /i "%~1"=="/user" (set "scope=user" & goto run)
if "%~1"=="/?" goto usage
echo install.cmd: unknown argument "%~1".
goto usage

:run
if not exist "%~dp0QuandrelCom.exe" (
  echo install.cmd: QuandrelCom.exe is not in "%~dp0".
  exit /b 2
)
if "%scope%"=="user" (
  "%~dp0QuandrelCom.exe" /RegServerPerUser
) else (
  "%~dp0QuandrelCom.exe" /RegServer
)
set code=%errorlevel%
rem -2147024891 is E_ACCESSDENIED (0x80070005): the machine-wide keys need administrator rights.
if "%scope%"=="machine" if "%code%"=="-2147024891" echo install.cmd: machine-wide registration needs administrator rights: run install.cmd from an elevated prompt, or run "install.cmd /user" to register for the current user only.
exit /b %code%

:usage
echo Usage: install.cmd [/user]
echo   without /user: registers Korvane.QuandrelCom for every user (run as administrator)
echo   /user:         registers it for the current user only
exit /b 87
