#!/usr/bin/env bash
# Makes the release packages from built trees (run scripts/build.sh first):
#   QuandrelCom-<version>-win32.zip             the i686 build's front ends, ready to install
#   QuandrelCom-<version>-win64.zip             the x86_64 build's front ends
#   QuandrelCom-<version>-reference-engine.zip  our stand-in engine, for tests and demonstrations
#   QuandrelCom-<version>-win32.msi, -win64.msi  Windows Installer packages of each server for
#                                               64-bit Windows (docs/deploy.md)
# The version is the CMake project version (each build folder's korvane-version.txt). The same
# sources give the same bytes: sorted entries, fixed time stamps and permissions
# (scripts/deterministic_zip.py); text files for Windows get CRLF line ends.
#
#   scripts/package.sh [--out <folder>] [--sign <pfx> [--password-file <file>]
#                      [--timestamp <url>]] [--msi-version X.Y.Z] [<arch>=<build folder>]...
# Defaults: --out dist/packages, i686=build/i686 x86_64=build/x86_64. With only some builds
# given, only their front-end zips are made and the engine zip holds only their engine files;
# the installer packages need the x86_64 build among them (its korvane_registry_rows.exe makes
# both). A build folder that is missing or not configured ends the run.
# --msi-version gives the installer packages another version than the build's (the upgrade test
# makes an earlier one). --sign signs QuandrelCom.exe and quandrelcmd.exe (Authenticode, SHA-256,
# osslsigncode) before they go into any package, and then each .msi, so SHA256SUMS lists the
# signed bytes; --password-file holds the pfx's password, --timestamp names an RFC 3161
# time-stamping service. Without --sign nothing is signed. A signature holds its signing time
# (and the time stamp), so signed packages differ from run to run in those bytes; unsigned ones
# are byte-identical.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=scripts/wine-env.sh
source "$root/scripts/wine-env.sh"
out="$root/dist/packages"
builds=()
sign_pfx='' sign_password_file='' sign_timestamp='' msi_version=''
usage="usage: scripts/package.sh [--out <folder>] [--sign <pfx> [--password-file <file>] [--timestamp <url>]] [--msi-version X.Y.Z] [i686=<build>] [x86_64=<build>]"
while [ $# -gt 0 ]; do
  case "$1" in
    --out) out=$2; shift 2 ;;
    --sign) sign_pfx=$2; shift 2 ;;
    --password-file) sign_password_file=$2; shift 2 ;;
    --timestamp) sign_timestamp=$2; shift 2 ;;
    --msi-version) msi_version=$2; shift 2 ;;
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
# Every package is made in the stage and moved into --out only once all of them are made (and
# signed): a run that fails, a failed signing above all, leaves no package behind there.
destination=$(cd "$out" && pwd)
out=$stage/out
mkdir -p "$out"

# Copies a text file with CRLF line ends (what Notepad, cmd.exe and the VBA importer expect).
crlf() { sed -e 's/\r$//' -e 's/$/\r/' "$1" >"$2"; }

# Signs a file in place with --sign's certificate (nothing without --sign). Every program and
# installer package goes through here before it is checksummed or packed; an installer step
# calls it on each .msi it makes. A failure ends the run before anything reaches --out.
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

# Ends the run with a message; nothing reaches --out.
die() {
  echo "package: $*" >&2
  exit 1
}

# Prints the absolute path of one architecture's build folder, which must exist and be
# configured: a package is never made from another tree's files.
build_folder() {
  local arch=$1 build=$2
  [ -d "$build" ] || die "no $arch build folder $build (scripts/build.sh --arch $arch)"
  build=$(cd "$build" && pwd)
  [ -f "$build/korvane-version.txt" ] || die "$build is not a configured build"
  echo "$build"
}

platform_of() {
  case "$1" in
    i686) echo win32 ;;
    x86_64) echo win64 ;;
  esac
}

# The staged front-end folder of one platform, packed into its zip and read by its installer.
front_end_top() {
  local name="QuandrelCom-$1-$2"
  echo "$stage/$name/$name"
}

# The folder of the reference-engine package, which holds the engine files of every build.
engine_top() {
  echo "$stage/engine/QuandrelCom-$1-reference-engine"
}

# Packs one build's front-end zip and puts its engine files, only there, into the separate,
# clearly named stand-in package's folder.
package_build() {
  local arch=$1 build=$2 version=$3 platform installed name top f engine
  platform=$(platform_of "$arch")
  installed="$stage/install-$arch"
  cmake --install "$build" --prefix "$installed" >/dev/null
  for f in QuandrelCom.exe quandrelcmd.exe QuandrelCom.tlb quandrelsdk.dll quandrel.dll \
      include/quandrelcom.h include/quandrelcom_i.c; do
    [ -f "$installed/$f" ] || die "$build lacks $f (build it first)"
  done

  name="QuandrelCom-$version-$platform"
  top=$(front_end_top "$version" "$platform")
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
  echo "package: $destination/$name.zip ($(stat -c %s "$out/$name.zip") bytes)"

  engine=$(engine_top "$version")
  mkdir -p "$engine/$platform"
  cp "$installed/quandrelsdk.dll" "$installed/quandrel.dll" "$engine/$platform/"
}

# The registry rows /RegServer writes for <platform>'s server, as the x86_64 build's
# korvane_registry_rows.exe prints them under that build's Wine.
registry_rows() {
  local x86_64_build=$1 platform=$2
  korvane_wine_env "$x86_64_build" x86_64 || return 1
  korvane_wine_prefix_ready || return 1
  korvane_wine "$x86_64_build/packaging/korvane_registry_rows.exe" "$platform" </dev/null
}

# The installer packages (docs/deploy.md): each server's front ends in an x64 package whose
# registry rows korvane_registry_rows.exe prints from the registration /RegServer writes. wixl
# and msibuild stamp the current time; it is frozen at the sources' own time, so the same
# sources give the same bytes.
make_msi() {
  local platform=$1 top=$2 x86_64_build=$3 msi_version=$4 source_time=$5
  local msi_stage=$stage/msi-$1
  mkdir -p "$msi_stage/files"
  cp "$top/QuandrelCom.exe" "$top/quandrelcmd.exe" "$top/QuandrelCom.tlb" "$top/README.txt" \
    "$msi_stage/files/"
  cp "$top/LICENSE" "$msi_stage/files/LICENSE.txt"
  registry_rows "$x86_64_build" "$platform" >"$msi_stage/rows.txt" ||
    die "korvane_registry_rows.exe failed"
  python3 "$root/packaging/make_wxs.py" --platform "$platform" --version "$msi_version" \
    --stage "$msi_stage/files" --rows "$msi_stage/rows.txt" --out "$msi_stage/package.wxs" \
    --fixups "$msi_stage/fixups.txt"
  touch -d "@$source_time" "$msi_stage/files/"*
  local msi="$out/QuandrelCom-$msi_version-$platform.msi" frozen
  frozen=$(date -u -d "@$source_time" '+%Y-%m-%d %H:%M:%S')
  rm -f "$msi"
  (cd "$msi_stage/files" && TZ=UTC FAKETIME_DONT_FAKE_MONOTONIC=1 faketime -f "$frozen" \
    wixl -a x64 -o "$msi" ../package.wxs) || die "wixl failed"
  while IFS=$'\t' read -r -a call; do
    TZ=UTC FAKETIME_DONT_FAKE_MONOTONIC=1 faketime -f "$frozen" msibuild "$msi" "${call[@]}" ||
      die "msibuild ${call[*]} failed"
  done <"$msi_stage/fixups.txt"
  sign "$msi"
  echo "package: $destination/$(basename "$msi") ($(stat -c %s "$msi") bytes)"
}

# The reference-engine zip, of every build's engine files.
package_engine() {
  local version=$1 engine engine_zip
  engine=$(engine_top "$version")
  sed "s/@VERSION@/$version/g" "$root/package/REFERENCE-ENGINE.txt" >"$stage/REFERENCE-ENGINE.txt"
  crlf "$stage/REFERENCE-ENGINE.txt" "$engine/README.txt"
  crlf "$root/LICENSE" "$engine/LICENSE"
  (cd "$engine" && checksums)
  engine_zip="$out/QuandrelCom-$version-reference-engine.zip"
  python3 "$root/scripts/deterministic_zip.py" "$engine_zip" "$engine"
  echo "package: $destination/$(basename "$engine_zip") ($(stat -c %s "$engine_zip") bytes)"
}

# Every build folder is checked, and all agree on the version, before anything is packed.
arches=() folders=() version=
for pair in "${builds[@]}"; do
  arch=${pair%%=*}
  build=$(build_folder "$arch" "${pair#*=}")
  v=$(cat "$build/korvane-version.txt")
  [ -z "$version" ] || [ "$v" = "$version" ] || die "builds differ in version ($version, $v)"
  version=$v
  arches+=("$arch")
  folders+=("$build")
done

x86_64_build=
for i in "${!arches[@]}"; do
  package_build "${arches[$i]}" "${folders[$i]}" "$version"
  [ "${arches[$i]}" != x86_64 ] || x86_64_build=${folders[$i]}
done

# Only the x86_64 build runs korvane_registry_rows.exe, for both servers' packages.
if [ -z "$x86_64_build" ]; then
  echo "package: no installer packages: they need the x86_64 build's korvane_registry_rows.exe (x86_64=<build folder>)" >&2
else
  [ -f "$x86_64_build/packaging/korvane_registry_rows.exe" ] ||
    die "$x86_64_build lacks packaging/korvane_registry_rows.exe (build it first)"
  for tool in wixl msibuild faketime; do
    command -v $tool >/dev/null || die "$tool is missing (scripts/setup.sh)"
  done
  source_time=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 946684800)}
  for i in "${!arches[@]}"; do
    platform=$(platform_of "${arches[$i]}")
    make_msi "$platform" "$(front_end_top "$version" "$platform")" "$x86_64_build" \
      "${msi_version:-$version}" "$source_time"
  done
fi

package_engine "$version"
for f in "$out"/*; do mv -f "$f" "$destination/"; done
