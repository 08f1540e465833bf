#!/bin/sh
# Checks the samples that cannot run under Wine here as far as a Debian tool allows:
#   python  both Python samples byte-compile (python3 -m py_compile; pywin32 and comtypes are
#           Windows-only, so imports are not resolved)
#   csharp  Client.cs compiles with Mono's C# compiler (mcs), [ComImport] declarations included
# Usage: check_foreign_samples.sh <python|csharp> <samples folder> <scratch folder>
# Exits 77 (CTest's skip) with a reason when the tool is not installed.
set -eu
kind=$1 samples=$2 scratch=$3
mkdir -p "$scratch"
case "$kind" in
  python)
    command -v python3 >/dev/null || { echo "skipped: python3 is not installed"; exit 77; }
    # The byte code goes to the scratch folder, never into the sources.
    PYTHONPYCACHEPREFIX="$scratch/pycache" python3 -m py_compile \
      "$samples/client_pywin32.py" "$samples/client_comtypes.py"
    echo "python samples byte-compile"
    ;;
  csharp)
    command -v mcs >/dev/null ||
      { echo "skipped: mcs is not installed (scripts/setup.sh --client-checks installs mono-mcs)"; exit 77; }
    mcs -warnaserror+ -nologo -out:"$scratch/Client.exe" "$samples/Client.cs"
    echo "C# sample compiles"
    ;;
  *) echo "unknown kind $kind" >&2; exit 2 ;;
esac
