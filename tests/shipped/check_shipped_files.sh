#!/bin/sh
# Reads the PE headers and import tables of the files a user copies to Windows (nothing is run):
#   - each may import only system DLLs present on Windows 7 SP1 and later, and no mingw runtime;
#   - no import may be a function that Windows 7 lacks;
#   - each keeps DYNAMIC_BASE and NX_COMPAT, and the 64-bit ones HIGH_ENTROPY_VA.
# Usage: check_shipped_files.sh <objdump> <i686|x86_64> <file>...
objdump=$1
arch=$2
shift 2
allowed='KERNEL32.dll msvcrt.dll ADVAPI32.dll ole32.dll OLEAUT32.dll USER32.dll NETAPI32.dll'
# Functions that appeared after Windows 7 and that a toolchain or runtime might pull in.
newer='GetSystemTimePreciseAsFileTime CreateFile2 CopyFile2 GetCurrentThreadStackLimits
SetThreadDescription GetThreadDescription WaitOnAddress WakeByAddressSingle WakeByAddressAll
PrefetchVirtualMemory GetOverlappedResultEx CreateFileMappingFromApp GetPackageFamilyName
InitializeSynchronizationBarrier EnterSynchronizationBarrier VirtualAlloc2 MapViewOfFile3
GetSystemCpuSetInformation SetThreadInformation GetProcessMitigationPolicy'
failed=0
fail() {
  echo "shipped_files: $1: $2" >&2
  failed=1
}
[ $# -gt 0 ] || { echo "shipped_files: no files given" >&2; exit 1; }
for file in "$@"; do
  [ -f "$file" ] || { fail "$file" "missing"; continue; }
  headers=$("$objdump" -p "$file") || { fail "$file" "unreadable"; continue; }
  name=$(basename "$file")
  for dll in $(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
    echo " $allowed " | grep -qiF " $dll " ||
      fail "$name" "imports $dll, which is not a Windows 7 system DLL this product may rely on"
  done
  imported=$(echo "$headers" | awk '/DLL Name:/ {inside=1; next} inside && NF >= 3 {print $3}')
  for fn in $newer; do
    echo "$imported" | grep -qx "$fn" && fail "$name" "imports $fn, which Windows 7 lacks"
  done
  flags=$(echo "$headers" | sed -n '/^DllCharacteristics/,/^[A-Z]/p')
  for want in DYNAMIC_BASE NX_COMPAT $([ "$arch" = x86_64 ] && echo HIGH_ENTROPY_VA); do
    echo "$flags" | grep -qw "$want" || fail "$name" "lacks $want"
  done
done
[ $failed -eq 0 ] && echo "shipped_files: $arch: $# files import only Windows 7 system DLLs and keep their mitigations"
exit $failed
