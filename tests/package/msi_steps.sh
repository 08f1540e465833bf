#!/usr/bin/env bash
# The installer packages under Wine's msiexec, one step per test, each package in a prefix of
# its own (so no other test sees the machine-wide installation): win64, the 64-bit server's, in
# a 64-bit prefix; win32, the shipping 32-bit server's, in a WoW64 prefix, with 64- and 32-bit
# clients, as users run it on 64-bit Windows. Every step first brings the prefix to the state it
# starts from, so each also runs alone.
#   made       package.sh twice: identical bytes; each package's tables hold the registration
#              in both views, the type library entry in the server's own view, the fixed
#              UpgradeCode and the right Program Files folder, the other server's package
#              detected and refused, and a custom folder's lock (Wine's msiexec applies no
#              lock, and Wine stores no file access list: only the rows can be checked)
#   install    silent per-machine install with a log; both views hold exactly what
#              QuandrelCom.exe /RegServer writes for the installed file; /Check passes
#   clients    script clients (64- and, for win32, 32-bit) call RunCmd2, and QuandrelRunCmd with
#              the engine copied in
#   repair     a deleted class key is put back by the repair command line docs/deploy.md gives
#   upgrade    an earlier version is replaced by this one; installing it again is refused
#   uninstall  leaves no key in either view and no file but the user's engine file
#   per_user   ALLUSERS="" registers under HKCU only, without the AppID, and uninstalls clean
#   exclusive  with either server's package installed, the other one's is refused (its launch
#              condition names the installed one) and its uninstall changes nothing: the
#              installed registration stays whole; the other package in a folder of its own
#   failed     an install that fails after writing files and keys leaves nothing behind
#   stop       ends the prefix's wineserver
# Usage: msi_steps.sh <step> <win64|win32|- for made> <source root> <x86_64 build folder>
#                     <scratch folder>
# Exits 77 (skipped) for win32 where this machine runs no 32-bit code, and for what needs the
# i686 build (win32, and exclusive's other package) when only the x86_64 tree is built, as the
# other tests that read ../i686 skip.
set -euo pipefail
# A grep that ends a pipeline reads all its input (no -q): one that quit at its first match would
# leave the writer a broken pipe, which pipefail reports as a failure.
step=$1 platform=$2 root=$3 build=$4 scratch=$5
name=msi_${platform}_$step
[ "$platform" != - ] || name=msi_$step
fail() { echo "$name: $*" >&2; exit 1; }
have_i686() { [ -f "$build/../i686/korvane-version.txt" ]; }
skip_without_i686() { have_i686 || { echo "$name: skipped: no i686 build beside $build"; exit 77; }; }
source "$root/scripts/wine-env.sh"
version=$(cat "$build/korvane-version.txt")
packages="$scratch/packages"
case $platform in
  win64)
    korvane_wine_env "$build" x86_64
    engine=$build/engine folder_name="Program Files"
    ;;
  win32)
    skip_without_i686
    if ! line=$(bash "$root/scripts/wine32.sh" "$KORVANE_WINE32_ROOT" | tail -n 1); then
      echo "$line"
      exit 77
    fi
    korvane_wine_env "$build" wow64
    engine=$build/../i686/engine folder_name="Program Files (x86)"
    ;;
  -) folder_name= engine= ;;
  *) fail "unknown platform" ;;
esac
[ "$platform" = - ] || export WINEPREFIX="$scratch/$platform/prefix"
msi="$packages/QuandrelCom-$version-$platform.msi"
folder="$WINEPREFIX/drive_c/$folder_name/Korvane QuandrelCom"
win() { printf 'Z:%s' "$1" | tr '/' '\\'; }

# Every key the registration can write, in both views of both hives, as reg.exe of the view's
# bitness shows it: what clients of that bitness find. (Under Wine a 64-bit program's 32-bit view
# misses the keys that 64-bit Windows shares between the views, such as the ProgID, when only the
# other view holds them; a 32-bit program's view, like Windows, has them.)
registration() {
  local hive view key reg
  for hive in HKLM HKCU; do
    for view in 64 32; do
      reg='C:\windows\system32\reg.exe'
      [ "$platform$view" != win3232 ] || reg='C:\windows\syswow64\reg.exe'
      for key in Korvane.QuandrelCom 'CLSID\{BDBB0F90-863E-4814-820F-1657390654B0}' \
          'Interface\{79D8CD39-F512-46E7-8935-7A60569F6F2F}' \
          'TypeLib\{33609DAE-7AF8-4E00-BFF4-E1B69E14EC41}' \
          'AppID\{BDBB0F90-863E-4814-820F-1657390654B0}' 'AppID\QuandrelCom.exe'; do
        echo "== $hive $view $key"
        # reg.exe tells a missing key on its standard output.
        korvane_wine "$reg" query "$hive\\Software\\Classes\\$key" /s "/reg:$view" 2>/dev/null |
          tr -d '\r' | grep -v -e '^reg:' -e '^$' || true
      done
    done
  done
}
# The lines of one hive's keys in registration's output.
hive() { awk -v hive="$1" '/^== /{on = $2 == hive; next} on'; }
msiexec() { korvane_wine msiexec "$@" /qn /l*v "$(win "$work/$step.log")" </dev/null; }
installed() { [ -f "$folder/QuandrelCom.exe" ]; }
ensure_installed() { installed || msiexec /i "$(win "$msi")" || fail "install failed"; }
# Fails with message $1 and what is left when the registration holds any key.
no_keys() { local left; left=$(registration | grep -v '^==' || true); [ -z "$left" ] || fail "$1: $left"; }
ensure_removed() {
  ! installed || msiexec /x "$(win "$msi")" || fail "uninstall failed"
  no_keys "the prefix holds a registration to start from"
}
server() { (cd "$folder" && korvane_wine QuandrelCom.exe "$@" </dev/null); }

if [ "$step" = made ]; then
  rm -rf "$packages" "$scratch/again" "$scratch/earlier"
  mkdir -p "$scratch"
  korvane_wine_env "$build" x86_64
  builds=("x86_64=$build")
  ! have_i686 || builds+=("i686=$build/../i686")
  bash "$root/scripts/package.sh" --out "$packages" "${builds[@]}" >/dev/null
  bash "$root/scripts/package.sh" --out "$scratch/again" "${builds[@]}" >/dev/null
  bash "$root/scripts/package.sh" --out "$scratch/earlier" --msi-version 0.9.0 "${builds[@]}" >/dev/null
  up32='{6E7D295D-954E-4133-96C9-4F33AF1DDC13}' up64='{BD80695F-9214-4392-8936-3F3746FC9D76}'
  table() { msiinfo export "$f" "$1" | tr -d '\r' | tail -n +4; }
  has() { table "$1" | grep >/dev/null "${@:2}"; }  # a row of table $1 that grep "${@:2}" matches
  for f in "$packages"/*.msi; do
    cmp -s "$f" "$scratch/again/$(basename "$f")" || fail "$(basename "$f") differs between two runs"
    kind=$(basename "$f" .msi); kind=${kind##*-}
    case $kind in
      win32) upgrade=$up32 other=$up64 other_bits=64 dir=ProgramFilesFolder own=4 ;;
      win64) upgrade=$up64 other=$up32 other_bits=32 dir=ProgramFiles64Folder own=260 ;;
    esac
    has Property -x "UpgradeCode	$upgrade" || fail "$kind: UpgradeCode"
    has Directory "^$dir	" || fail "$kind: not under $dir"
    # Component attributes 260: a 64-bit component (the 64-bit view), 4: the 32-bit view.
    tables=$scratch/$kind-registry.txt
    join -t'	' -1 6 -2 1 -o 1.2,1.3,1.4,1.5,2.2 \
      <(table Registry | sort -t'	' -k6,6) <(table Component | cut -f1,4 | sort) | sort >"$tables"
    for view in 4 260; do
      grep -c "CLSID\\\\{BDBB0F90-863E-4814-820F-1657390654B0}\\\\LocalServer32		\"\[INSTALLDIR\]QuandrelCom.exe\"	$view\$" \
        "$tables" >/dev/null || fail "$kind: the class is not in view $view"
    done
    grep -q "TypeLib.*\\\\0\\\\$kind		\[INSTALLDIR\]QuandrelCom.exe	$own\$" "$tables" ||
      fail "$kind: the type library entry is not in the server's own view"
    # 258: only detected (2), from version 0.0.0 on (256).
    has Upgrade -x "$other	0.0.0			258		KORVANE_OTHER_SERVER_FOUND" ||
      fail "$kind: the other server's package is not detected"
    has LaunchCondition "^Installed OR NOT KORVANE_OTHER_SERVER_FOUND	Korvane QuandrelCom ($other_bits-bit server) is installed. Uninstall it" ||
      fail "$kind: no refusal naming the other server's package"
    has CreateFolder -x "INSTALLDIR	CFile_QuandrelCom_exe" || fail "$kind: no folder to lock"
    has MsiLockPermissionsEx -xF "LockInstallFolder	INSTALLDIR	CreateFolder	D:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)	ALLUSERS AND NOT (INSTALLDIR ~<< ProgramFilesFolder) AND NOT (INSTALLDIR ~<< ProgramFiles64Folder)" ||
      fail "$kind: a custom folder is not locked to administrators, SYSTEM and users' reading"
  done
  [ -f "$packages/QuandrelCom-$version-win64.msi" ] || fail "no win64 package"
  echo "msi_made: $(cd "$packages" && ls *.msi | tr '\n' ' ')byte-identical across two runs"
  exit 0
fi

if [ "$step" = stop ]; then
  korvane_wine_stop
  echo "$name: passed"
  exit 0
fi
[ -f "$msi" ] || fail "run msi_made first"
work=$scratch/$platform
mkdir -p "$work"
korvane_wine_prefix_ready
case "$step" in
  install)
    ensure_removed
    msiexec /i "$(win "$msi")" || fail "msiexec /i failed (log: $work/$step.log)"
    [ -s "$work/$step.log" ] || fail "no installer log"
    for f in QuandrelCom.exe quandrelcmd.exe; do [ -f "$folder/$f" ] || fail "$f not installed"; done
    registration >"$work/by-package.txt"
    server /UnregServer >/dev/null
    no_keys "/UnregServer left keys of the package"
    server /RegServer >/dev/null
    registration >"$work/by-regserver.txt"
    diff -u "$work/by-regserver.txt" "$work/by-package.txt" >&2 ||
      fail "the package's keys differ from what /RegServer writes (above)"
    cp "$engine/quandrelsdk.dll" "$engine/quandrel.dll" "$folder/"
    server /Check >"$work/check.txt" || fail "/Check found problems: $(cat "$work/check.txt")"
    ;;
  clients)
    ensure_installed
    cp "$engine/quandrelsdk.dll" "$engine/quandrel.dll" "$folder/"
    mkdir -p "$work/client"
    printf 'Hello from the installed server.\r\n' >"$work/client/in.txt"
    cat >"$work/client/client.vbs" <<'VBS'
Set o = CreateObject("Korvane.QuandrelCom")
WScript.Echo "RunCmd2: " & o.RunCmd2("cmd /c echo installed", 0)
WScript.Echo "QuandrelRunCmd: " & o.QuandrelRunCmd("-to html """ & WScript.Arguments(0) & """ """ & WScript.Arguments(1) & """")
VBS
    # The 64-bit scripting host, and for the 32-bit server also the 32-bit one.
    hosts=('C:\windows\system32\cscript.exe')
    [ "$platform" = win64 ] || hosts+=('C:\windows\syswow64\cscript.exe')
    for host in "${hosts[@]}"; do
      rm -f "$work/client/out.html"
      (cd "$work/client" && korvane_wine "$host" //nologo client.vbs \
        "$(win "$work/client/in.txt")" "$(win "$work/client/out.html")" </dev/null) |
        tr -d '\r' >"$work/client/output.txt" || fail "$host failed: $(cat "$work/client/output.txt")"
      grep -qx "RunCmd2: installed" "$work/client/output.txt" ||
        fail "$host: RunCmd2: $(cat "$work/client/output.txt")"
      grep -q "Hello from the installed server." "$work/client/out.html" ||
        fail "$host: QuandrelRunCmd did not convert: $(cat "$work/client/output.txt")"
    done
    ;;
  repair)
    ensure_installed
    registration >"$work/before.txt"
    korvane_wine reg delete 'HKLM\Software\Classes\CLSID\{BDBB0F90-863E-4814-820F-1657390654B0}' \
      /f /reg:64 >/dev/null || fail "could not delete the class key"
    # Exactly the repair line of docs/deploy.md, with this package's path for its name.
    documented=$(grep -E '^    msiexec .*\(repair' "$root/docs/deploy.md" | sed -E 's/ +\(repair.*//') ||
      fail "docs/deploy.md gives no repair command line"
    read -r -a repair <<<"$documented"
    for i in "${!repair[@]}"; do
      [[ ${repair[i]} != QuandrelCom-*.msi ]] || repair[i]=$(win "$msi")
    done
    korvane_wine "${repair[@]}" /l*v "$(win "$work/$step.log")" </dev/null ||
      fail "$documented failed (log: $work/$step.log)"
    registration | diff -u "$work/before.txt" - >&2 || fail "repair did not put back the keys (above)"
    ;;
  upgrade)
    earlier="$(win "$scratch/earlier/QuandrelCom-0.9.0-$platform.msi")"
    ensure_removed
    msiexec /i "$earlier" || fail "installing 0.9.0 failed"
    msiexec /i "$(win "$msi")" || fail "upgrading to $version failed"
    korvane_wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s /reg:64 |
      tr -d '\r' | grep -E 'DisplayName|DisplayVersion|Publisher' | grep -v Uninstall >"$work/products.txt" || true
    grep -q "DisplayVersion.*$version" "$work/products.txt" || fail "$version is not listed"
    ! grep -q "DisplayVersion.*0\.9\.0" "$work/products.txt" || fail "0.9.0 was not removed"
    grep -q "Publisher.*Korvane" "$work/products.txt" || fail "no publisher in Apps and Features"
    if msiexec /i "$earlier"; then fail "0.9.0 installed over $version"; fi
    # Wine's msiexec does not log the refusal's message under /qn: the log shows the downgrade
    # found, the package's launch condition the message Windows shows.
    grep -aq "WIX_DOWNGRADE_DETECTED = {" "$work/$step.log" || fail "no downgrade detected"
    msiinfo export "$scratch/earlier/QuandrelCom-0.9.0-$platform.msi" LaunchCondition |
      grep >/dev/null "^NOT WIX_DOWNGRADE_DETECTED	A later version of" || fail "no message for a refusal"
    [ "$(registration | grep -c LocalServer32)" -ge 2 ] || fail "the refused downgrade touched the registration"
    ;;
  uninstall)
    ensure_installed
    cp "$engine/quandrelsdk.dll" "$folder/"
    msiexec /x "$(win "$msi")" || fail "msiexec /x failed"
    no_keys "keys left behind"
    for f in QuandrelCom.exe quandrelcmd.exe QuandrelCom.tlb README.txt LICENSE.txt; do
      [ ! -e "$folder/$f" ] || fail "$f left behind"
    done
    [ -f "$folder/quandrelsdk.dll" ] || fail "the user's engine file was removed"
    rm -rf "$folder"
    ;;
  per_user)
    ensure_removed
    msiexec /i "$(win "$msi")" ALLUSERS="" || fail "per-user install failed"
    registration >"$work/per-user.txt"
    [ -z "$(hive HKLM <"$work/per-user.txt")" ] || fail "wrote below HKLM"
    grep -q 'LocalServer32' "$work/per-user.txt" || fail "no class under HKCU"
    ! grep -q 'AccessPermission' "$work/per-user.txt" || fail "a per-user AppID was written"
    msiexec /x "$(win "$msi")" ALLUSERS="" || fail "per-user uninstall failed"
    no_keys "keys left behind"
    ;;
  exclusive)
    case $platform in win64) other_platform=win32 ;; *) other_platform=win64 ;; esac
    other="$packages/QuandrelCom-$version-$other_platform.msi"
    [ "$platform" = win32 ] || skip_without_i686
    [ -f "$other" ] || fail "no $other_platform package (msi_made makes it from the i686 build)"
    ensure_removed
    # The other package goes into a folder of its own, which its lock would close on Windows.
    other_folder='C:\KorvaneApps\QuandrelCom\'
    for first in "$msi" "$other"; do
      second=$other extra=()
      [ "$first" = "$msi" ] || second=$msi extra=(INSTALLDIR="$other_folder")
      msiexec /i "$(win "$first")" "${extra[@]}" || fail "installing $(basename "$first") failed"
      registration >"$work/before.txt"
      grep -q LocalServer32 "$work/before.txt" || fail "$(basename "$first") registered nothing"
      [ ${#extra[@]} = 0 ] || [ -f "$WINEPREFIX/drive_c/KorvaneApps/QuandrelCom/QuandrelCom.exe" ] ||
        fail "INSTALLDIR=$other_folder was not taken"
      if msiexec /i "$(win "$second")"; then fail "$(basename "$second") installed beside $(basename "$first")"; fi
      grep -aq "KORVANE_OTHER_SERVER_FOUND" "$work/$step.log" ||
        fail "$(basename "$second") did not detect $(basename "$first")"
      msiexec /x "$(win "$second")" || true  # not installed: nothing to remove
      registration | diff -u "$work/before.txt" - >&2 ||
        fail "$(basename "$first")'s registration changed (above)"
      msiexec /x "$(win "$first")" || fail "uninstalling $(basename "$first") failed"
      no_keys "$(basename "$first") left keys"
    done
    # Wine's msiexec resolves INSTALLDIR afresh when it uninstalls (Windows takes the folder the
    # components were installed to), so it leaves the files of a custom folder behind.
    rm -rf "$WINEPREFIX/drive_c/KorvaneApps"
    ;;
  failed)
    ensure_removed
    # The package with one more step after the files and keys are written: a deferred program
    # that fails, so the installer must roll back what it did.
    cp "$msi" "$work/failing.msi"
    msibuild "$work/failing.msi" -q "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ('Fail', 1058, 'INSTALLDIR', '\"[System64Folder]cmd.exe\" /c exit 3')"
    msibuild "$work/failing.msi" -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('Fail', 6550)"
    if msiexec /i "$(win "$work/failing.msi")"; then fail "the failing package installed"; fi
    grep -aq 'Software\\Classes\\CLSID' "$work/$step.log" || fail "the keys were never written"
    no_keys "keys left behind"
    [ ! -e "$folder" ] || fail "files left behind: $(ls "$folder")"
    ;;
  *) fail "unknown step" ;;
esac
echo "$name: passed"
