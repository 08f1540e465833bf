#!/usr/bin/env bash
# Signs a package with a throwaway certificate made here (a CA and a code-signing certificate it
# issued, in a pfx with a password file) and checks that osslsigncode accepts both signed
# programs and the installer package with that CA as the only trusted root, and that SHA256SUMS
# lists the signed bytes; and that a failed signing leaves no package in the output folder.
# No key or certificate outlives the scratch folder.
# Usage: sign_and_verify.sh <source root> <i686|x86_64> <build folder> <scratch folder>
set -euo pipefail
root=$1 arch=$2 build=$3 scratch=$4
case "$arch" in i686) platform=win32 ;; x86_64) platform=win64 ;; *) exit 2 ;; esac
name="QuandrelCom-$(cat "$build/korvane-version.txt")-$platform"
fail() { echo "package_signed: $*" >&2; exit 1; }
# The installer packages' registry rows come from the x86_64 tree: the i686 tree's package is
# made with the x86_64 tree beside it.
builds=("$arch=$build")
[ "$arch" = x86_64 ] || builds+=("x86_64=$build/../x86_64")
for tool in openssl osslsigncode; do command -v $tool >/dev/null || fail "$tool is missing (scripts/setup.sh)"; done

rm -rf "$scratch"
mkdir -p "$scratch/keys"
trap 'rm -rf "$scratch/keys"' EXIT
cd "$scratch/keys"
quiet() { "$@" >/dev/null 2>&1 || fail "$* failed"; }
quiet openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Korvane throwaway CA" \
  -keyout ca.key -out ca.pem -addext basicConstraints=critical,CA:TRUE \
  -addext keyUsage=critical,keyCertSign
quiet openssl req -newkey rsa:2048 -nodes -subj "/CN=Korvane throwaway signer" \
  -keyout signer.key -out signer.csr
printf 'keyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >signer.ext
quiet openssl x509 -req -days 2 -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial \
  -extfile signer.ext -out signer.pem
echo "throwaway password" >password.txt
quiet openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile ca.pem -out signer.pfx \
  -passout file:password.txt

# A signing that fails leaves no package behind, unsigned or half signed: with a wrong password
# (the first program fails), and when only the installer package fails (osslsigncode standing in
# for a time-stamping service that stops answering after the programs were signed).
echo "wrong password" >wrong-password.txt
mkdir -p failing-signer
cat >failing-signer/osslsigncode <<SIGNER
#!/bin/sh
case "\$*" in *.msi*) echo "osslsigncode: installer package refused" >&2; exit 1 ;; esac
exec $(command -v osslsigncode) "\$@"
SIGNER
chmod +x failing-signer/osslsigncode
for failing in password installer; do
  signer_path=$PATH password=password.txt
  [ $failing = installer ] && signer_path=$PWD/failing-signer:$PATH || password=wrong-password.txt
  if PATH=$signer_path bash "$root/scripts/package.sh" --out "$scratch/failed-$failing" \
      --sign signer.pfx --password-file $password "${builds[@]}" >/dev/null 2>&1; then
    fail "$failing: packaging succeeded although signing failed"
  fi
  left=$(ls -A "$scratch/failed-$failing")
  [ -z "$left" ] || fail "$failing: a failed signing left $left"
done

bash "$root/scripts/package.sh" --out "$scratch/out" --sign signer.pfx \
  --password-file password.txt "${builds[@]}" >/dev/null
python3 -m zipfile -e "$scratch/out/$name.zip" "$scratch/unpacked"
cd "$scratch/unpacked/$name"
sha256sum --quiet -c SHA256SUMS || fail "SHA256SUMS does not list the signed bytes"
[ -f "$scratch/out/$name.msi" ] || fail "no installer package was made"
for f in QuandrelCom.exe quandrelcmd.exe "$scratch/out"/*.msi; do
  report=$scratch/verify-$(basename "$f").txt
  osslsigncode verify -CAfile "$scratch/keys/ca.pem" -in "$f" >"$report" 2>&1 ||
    fail "$(basename "$f"): not accepted as signed by the throwaway CA ($(tail -3 "$report"))"
done
echo "package_signed: both programs in $name.zip and the installer packages verify against the throwaway CA"
