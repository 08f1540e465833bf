#!/usr/bin/env bash
# Runs scripts/package.sh on one build twice and compares the bytes, checks what the front-end
# zip holds (exactly the files a user needs, no engine file), then unpacks it into
# <scratch>/unpacked and puts the reference engine beside the front ends, as README.txt tells a
# user to do with the real engine. package_install_test then installs that folder.
# Usage: make_and_unpack.sh <source root> <i686|x86_64> <build folder> <scratch folder>
set -euo pipefail
root=$1 arch=$2 build=$3 scratch=$4
case "$arch" in i686) platform=win32 ;; x86_64) platform=win64 ;; *) exit 2 ;; esac
version=$(cat "$build/korvane-version.txt")
name="QuandrelCom-$version-$platform"
fail() { echo "package_zips: $*" >&2; exit 1; }

rm -rf "$scratch"
mkdir -p "$scratch"
bash "$root/scripts/package.sh" --out "$scratch/first" "$arch=$build"
bash "$root/scripts/package.sh" --out "$scratch/second" "$arch=$build" >/dev/null
for zip in "$name.zip" "QuandrelCom-$version-reference-engine.zip"; do
  cmp -s "$scratch/first/$zip" "$scratch/second/$zip" || fail "$zip differs between two runs"
done

# A build folder that is missing or not configured ends the run with a message naming it, before
# anything is packed: never a package from another tree's files.
case "$arch" in i686) other=x86_64 ;; *) other=i686 ;; esac
mkdir -p "$scratch/unconfigured"
while IFS='|' read -r folder message; do
  code=0
  bash "$root/scripts/package.sh" --out "$scratch/refused" "$arch=$build" "$other=$folder" \
    >/dev/null 2>"$scratch/refused.txt" || code=$?
  [ "$code" -ne 0 ] || fail "$other=$folder: packaging succeeded"
  grep >/dev/null -F "package: $message" "$scratch/refused.txt" ||
    fail "$other=$folder: no message '$message' ($(cat "$scratch/refused.txt"))"
  [ -z "$(ls -A "$scratch/refused")" ] || fail "$other=$folder: a package was left in --out"
done <<ROWS
$scratch/missing|no $other build folder $scratch/missing
$scratch/unconfigured|$scratch/unconfigured is not a configured build
ROWS

listing() { python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$1"; }
{
  for f in / LICENSE QuandrelCom.exe QuandrelCom.tlb README.txt SHA256SUMS include/ \
      include/quandrelcom.h include/quandrelcom_i.c install.cmd quandrelcmd.exe samples/ \
      uninstall.cmd; do
    echo "$name/${f#/}"
  done
  for f in "$root"/samples/*; do echo "$name/samples/$(basename "$f")"; done
} | LC_ALL=C sort >"$scratch/expected.txt"
listing "$scratch/first/$name.zip" >"$scratch/actual.txt"
diff -u "$scratch/expected.txt" "$scratch/actual.txt" || fail "$name.zip does not hold exactly the files above"
listing "$scratch/first/QuandrelCom-$version-reference-engine.zip" | grep >/dev/null -x \
  "QuandrelCom-$version-reference-engine/$platform/quandrelsdk.dll" ||
  fail "the reference-engine zip lacks $platform/quandrelsdk.dll"

unpacked="$scratch/unpacked"
python3 -m zipfile -e "$scratch/first/$name.zip" "$unpacked"
python3 -m zipfile -e "$scratch/first/QuandrelCom-$version-reference-engine.zip" "$scratch/engine"
(cd "$unpacked/$name" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match"
# Without --sign the programs go in exactly as built: nothing is signed.
for f in server/QuandrelCom.exe cli/quandrelcmd.exe; do
  cmp -s "$unpacked/$name/$(basename $f)" "$build/$f" || fail "$(basename $f) is not the built file"
done
cmp -s "$unpacked/$name/QuandrelCom.tlb" "$build/gen/server/com/quandrelcom.tlb" ||
  fail "QuandrelCom.tlb is not the library the server embeds"
grep -q "^QuandrelCom $version ($platform)" "$unpacked/$name/README.txt" ||
  fail "README.txt does not name version $version and $platform"
cp "$scratch/engine/QuandrelCom-$version-reference-engine/$platform/"* "$unpacked/$name/"
echo "package_zips: $name.zip and the engine zip are byte-identical across two runs and unpacked"
