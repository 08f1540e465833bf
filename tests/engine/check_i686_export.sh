#!/bin/sh
# Checks the shipping (32-bit) engine library: a PE32 i386 file exporting the converter under
# its plain name, with no stdcall-decorated ("@4") export. Runs on Linux; nothing is executed.
dll=$1
fail() {
  echo "i686_sdk_export: $*" >&2
  exit 1
}
[ -f "$dll" ] || fail "$dll not found: build the i686 tree first (scripts/build.sh), or set KORVANE_I686_BUILD_DIR"
i686-w64-mingw32-objdump -f "$dll" | grep -q 'file format pei-i386' || fail "$dll is not a PE32 i386 file"
exports=$(i686-w64-mingw32-objdump -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p')
echo "$exports" | grep -q ' KorvaneQuandrelConverter$' || fail "no plain KorvaneQuandrelConverter export in $dll"
if echo "$exports" | grep -q '@'; then fail "decorated export in $dll: $exports"; fi
echo "i686_sdk_export: $dll exports KorvaneQuandrelConverter"
