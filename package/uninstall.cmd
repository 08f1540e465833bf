@echo off
rem Removes the registration that install.cmd made: machine-wide (needs an elevated prompt), or
rem with /user the current user's. Exits with the server's own exit code: 0 on success, 1 when
rem the registration names another copy of QuandrelCom.exe and was left in place (the server
rem says where), else an HRESULT.
setlocal
set "scope=machine"
if "%~1"=="" goto run
if /i "%~1"=="/user" (set "scope=user" & goto run)
if "%~1"=="/?" goto usage
echo uninstall.cmd: unknown argument "%~1".
goto usage

:run
if not exist "%~dp0QuandrelCom.exe" (
  echo uninstall.cmd: QuandrelCom.exe is not in "%~dp0".
  exit /b 2
)
if "%scope%"=="user" (
  "%~dp0QuandrelCom.exe" /UnregServerPerUser
) else (
  "%~dp0QuandrelCom.exe" /UnregServer
)
set code=%errorlevel%
if "%code%"=="1" echo uninstall.cmd: what names the copy above was left in place; run uninstall.cmd in that copy's folder.
rem -2147024891 is E_ACCESSDENIED (0x80070005): the machine-wide keys need administrator rights.
if "%scope%"=="machine" if "%code%"=="-2147024891" echo uninstall.cmd: machine-wide unregistration needs administrator rights: run uninstall.cmd from an elevated prompt, or run "uninstall.cmd /user" if you installed with /user.
exit /b %code%

:usage
echo Usage: uninstall.cmd [/user]
echo   without /user: removes the registration for every user (run as administrator)
echo   /user:         removes the current user's registration
exit /b 87
