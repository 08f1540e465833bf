#!/usr/bin/env bash
# Makes the release packages from built trees (run scripts/build.sh first):
#   QuandrelCom-<version>-win32.zip             the i686 build's front ends, ready to install
#   QuandrelCom-<version>-win64.zip             the x86_64 build's front ends
#   QuandrelCom-<version>-reference-engine.zip  our stand-in engine, for tests and demonstrations
# The version is the CMake project version (each build folder's korvane-version.txt). The same
# sources give the same bytes: sorted entries, fixed time stamps and permissions
# (scripts/deterministic_zip.py); text files for Windows get CRLF line ends.
#
#   scripts/package.sh [--out <folder>] [--sign <pfx> [--password-file <file>]
#                      [--timestamp <url>]] [<arch>=<build folder>]...
# Defaults: --out dist/packages, i686=build/i686 x86_64=build/x86_64. With only some builds
# given, only their front-end zips are made and the engine zip holds only their engine files.
# --sign signs QuandrelCom.exe and quandrelcmd.exe (Authenticode, SHA-256, osslsigncode) before
# they go into any package, so SHA256SUMS lists the signed bytes; --password-file holds the
# pfx's password, --timestamp names an RFC 3161 time-stamping service. Without --sign nothing is
# signed. A signature holds its signing time (and the time stamp), so signed packages differ
# from run to run in those bytes; unsigned ones are byte-identical.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out="$root/dist/packages"
builds=()
sign_pfx= sign_password_file= sign_timestamp=
usage="usage: scripts/package.sh [--out <folder>] [--sign <pfx> [--password-file <file>] [--timestamp <url>]] [i686=<build>] [x86_64=<build>]"
while [ $# -gt 0 ]; do
  case "$1" in
    --out) out=$2; shift 2 ;;
    --sign) sign_pfx=$2; shift 2 ;;
    --password-file) sign_password_file=$2; shift 2 ;;
    --timestamp) sign_timestamp=$2; shift 2 ;;
    i686=* | x86_64=*) builds+=("$1"); shift ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
done
[ ${#builds[@]} -gt 0 ] || builds=("i686=$root/build/i686" "x86_64=$root/build/x86_64")
command -v python3 >/dev/null || { echo "package: python3 is missing (scripts/setup.sh)" >&2; exit 1; }
if [ -z "$sign_pfx" ] && [ -n "$sign_password_file$sign_timestamp" ]; then
  echo "package: --password-file and --timestamp go with --sign" >&2; exit 2
fi
if [ -n "$sign_pfx" ]; then
  command -v osslsigncode >/dev/null || { echo "package: osslsigncode is missing (scripts/setup.sh)" >&2; exit 1; }
  [ -f "$sign_pfx" ] || { echo "package: no certificate file $sign_pfx" >&2; exit 1; }
  [ -z "$sign_password_file" ] || [ -f "$sign_password_file" ] ||
    { echo "package: no password file $sign_password_file" >&2; exit 1; }
fi

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$out"
out=$(cd "$out" && pwd)

# Copies a text file with CRLF line ends (what Notepad, cmd.exe and the VBA importer expect).
crlf() { sed -e 's/\r$//' -e 's/$/\r/' "$1" >"$2"; }

# Signs a file in place with --sign's certificate (nothing without --sign). Every program and
# installer package goes through here before it is checksummed or packed; an installer step
# calls it on each .msi it makes.
sign() {
  [ -n "$sign_pfx" ] || return 0
  local args=(sign -pkcs12 "$sign_pfx" -h sha256 -n "Korvane QuandrelCom")
  if [ -n "$sign_password_file" ]; then args+=(-readpass "$sign_password_file"); else args+=(-pass ""); fi
  [ -z "$sign_timestamp" ] || args+=(-ts "$sign_timestamp")
  osslsigncode "${args[@]}" -in "$1" -out "$1.signed" >/dev/null ||
    { echo "package: signing $(basename "$1") failed" >&2; exit 1; }
  mv "$1.signed" "$1"
}

# Checksums of every file below the current folder but SHA256SUMS itself, sorted by name.
checksums() {
  find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
    while IFS= read -r f; do sha256sum -- "$f"; done >SHA256SUMS
}

version=
engine_top=
for pair in "${builds[@]}"; do
  arch=${pair%%=*}
  build=$(cd "${pair#*=}" && pwd)
  [ -f "$build/korvane-version.txt" ] || { echo "package: $build is not a configured build" >&2; exit 1; }
  v=$(cat "$build/korvane-version.txt")
  [ -z "$version" ] || [ "$v" = "$version" ] || { echo "package: builds differ in version ($version, $v)" >&2; exit 1; }
  version=$v
  case "$arch" in i686) platform=win32 ;; x86_64) platform=win64 ;; esac

  installed="$stage/install-$arch"
  cmake --install "$build" --prefix "$installed" >/dev/null
  for f in QuandrelCom.exe quandrelcmd.exe QuandrelCom.tlb quandrelsdk.dll quandrel.dll \
      include/quandrelcom.h include/quandrelcom_i.c; do
    [ -f "$installed/$f" ] || { echo "package: $build lacks $f (build it first)" >&2; exit 1; }
  done

  name="QuandrelCom-$version-$platform"
  top="$stage/$name/$name"
  mkdir -p "$top/include" "$top/samples"
  cp "$installed/QuandrelCom.exe" "$installed/quandrelcmd.exe" "$installed/QuandrelCom.tlb" "$top/"
  sign "$top/QuandrelCom.exe"
  sign "$top/quandrelcmd.exe"
  cp "$installed/include/quandrelcom.h" "$installed/include/quandrelcom_i.c" "$top/include/"
  for f in "$root"/samples/*; do crlf "$f" "$top/samples/$(basename "$f")"; done
  crlf "$root/package/install.cmd" "$top/install.cmd"
  crlf "$root/package/uninstall.cmd" "$top/uninstall.cmd"
  crlf "$root/LICENSE" "$top/LICENSE"
  sed -e "s/@VERSION@/$version/g" -e "s/@PLATFORM@/$platform/g" "$root/package/README.txt" >"$stage/README.txt"
  crlf "$stage/README.txt" "$top/README.txt"
  (cd "$top" && checksums)
  python3 "$root/scripts/deterministic_zip.py" "$out/$name.zip" "$top"
  echo "package: $out/$name.zip ($(stat -c %s "$out/$name.zip") bytes)"

  # The engine files go only into the separate, clearly named stand-in package.
  engine_top="$stage/engine/QuandrelCom-$version-reference-engine"
  mkdir -p "$engine_top/$platform"
  cp "$installed/quandrelsdk.dll" "$installed/quandrel.dll" "$engine_top/$platform/"
done

sed "s/@VERSION@/$version/g" "$root/package/REFERENCE-ENGINE.txt" >"$stage/REFERENCE-ENGINE.txt"
crlf "$stage/REFERENCE-ENGINE.txt" "$engine_top/README.txt"
crlf "$root/LICENSE" "$engine_top/LICENSE"
(cd "$engine_top" && checksums)
engine_zip="$out/QuandrelCom-$version-reference-engine.zip"
python3 "$root/scripts/deterministic_zip.py" "$engine_zip" "$engine_top"
echo "package: $engine_zip ($(stat -c %s "$engine_zip") bytes)"
