#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine (run as root).
# Idempotent: when every package is present it only checks and returns.
#   scripts/setup.sh [--client-checks]
# --client-checks adds Mono's C# compiler (mono-mcs, about 40 MB), which only the check of the
# C# sample needs; scripts/test.sh asks for it, the build and the demo do not.
set -euo pipefail

packages=(
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools binutils-mingw-w64
  cmake make wine64 wine libwine-dev googletest python3
  # package.sh --sign, and the signing test's throwaway certificate
  osslsigncode openssl
  # package.sh's installer packages: wixl and msibuild make them, faketime holds their time
  # stamps to the sources' own
  wixl msitools faketime
)
if [ "${1:-}" = --client-checks ]; then
  packages+=(mono-mcs)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # wine32 cannot run on these machines and breaks the wine wrapper: never pull it in.
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
  echo "setup: warning: wine32 is installed; the tests use /usr/lib/wine/wine64 directly" >&2
fi
echo "setup: toolchain ready"
