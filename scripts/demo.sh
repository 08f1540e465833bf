#!/usr/bin/env bash
# Set-up, build, then a real conversion of samples/sample.txt with the reference engine:
# through quandrelcmd, and through the automation server (a VBScript client calling
# QuandrelRunCmd and Quandrel). Runs the x86_64 build under Wine in the build's own prefix.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/scripts/setup.sh"
# Only the programs it runs: the 64-bit build, without tests (scripts/test.sh builds those).
bash "$root/scripts/build.sh" --arch x86_64 --no-tests
source "$root/scripts/wine-env.sh"
korvane_wine_env "$root/build/x86_64" x86_64
trap korvane_wine_stop EXIT
korvane_wine_start
wine=korvane_wine

demo="$root/build/demo"
rm -rf "$demo"
mkdir -p "$demo"
cp "$root"/dist/x86_64/*.exe "$root"/dist/x86_64/*.dll "$demo/"
cp "$root/samples/sample.txt" "$root/samples/convert.vbs" "$demo/"
win() { printf 'Z:%s' "$1" | tr '/' '\\'; }

echo
echo "== quandrelcmd -to html sample.txt sample.html"
(cd "$demo" && "$wine" quandrelcmd.exe -to html sample.txt sample.html) || echo "(exit code $?)"
echo "----- sample.html"
cat "$demo/sample.html"
echo "-----"

echo
echo "== QuandrelCom: register, then a VBScript client"
"$wine" "$(win "$demo/QuandrelCom.exe")" /RegServer
code=0
(cd "$demo" && "$wine" cscript.exe //nologo convert.vbs "$(win "$demo/sample.txt")") || code=$?
echo
echo "----- _debug.log of the server"
cat "$demo/_debug.log" 2>/dev/null || echo "(none)"
echo "-----"
"$wine" "$(win "$demo/QuandrelCom.exe")" /UnregServer
exit "$code"
