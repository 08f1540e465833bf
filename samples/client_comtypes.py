"""A Python client of the Korvane automation server through comtypes.

Usage (Windows, Python with comtypes installed: pip install comtypes):
    python client_comtypes.py <in-file>
comtypes reads the server's registered type library and calls the dual interface _QuandrelCom
through its vtable (early binding). Calls every member once, shows how a run-time error of the
server arrives (error 6, Overflow) and exits with Quandrel's result code.
"""
import os
import sys

import comtypes
import comtypes.client


def main(argv):
    if len(argv) < 2:
        print("Usage: python client_comtypes.py <in-file>")
        return 1
    # COM starts the server in a folder of its own (on Windows %windir%\System32), and the
    # server reads a command line from there: file names in it must be full paths.
    in_file = os.path.abspath(argv[1])

    engine = comtypes.client.CreateObject("Korvane.QuandrelCom")

    # The log is per object: this object's calls are logged from now on (_debug.log beside
    # QuandrelCom.exe).
    engine.EnableDebugLog(True)
    print("g_isDebug:", engine.g_isDebug)

    # 0 is SW_HIDE; the result says whether the program started.
    print("RunCmd returned:", engine.RunCmd("cmd.exe /c exit 0", 0, True))
    print("RunCmd2 returned:", engine.RunCmd2("cmd.exe /c echo hello from RunCmd2", 0).strip())
    report = engine.QuandrelRunCmd('-to html "%s" "%s.comtypes.html"' % (in_file, in_file))
    print("QuandrelRunCmd returned:", report.strip())

    # Errors 53, 48 and 453 (engine library missing, not loadable, export missing) arrive as
    # COMError with HRESULT 0x800A0035, 0x800A0030 and 0x800A01C5, like error 6 below.
    code = engine.Quandrel('-to text "%s" "%s.comtypes.txt"' % (in_file, in_file))
    print("Quandrel returned:", code)

    try:
        engine.RunCmd("cmd.exe /c exit 0", 70000, True)
        print("No error where error 6 was expected")
    except comtypes.COMError as error:
        hresult = error.hresult & 0xFFFFFFFF
        number = hresult & 0xFFFF if (hresult & 0xFFFF0000) == 0x800A0000 else None
        print("Error %s as expected: %s" % (number, error.text))

    engine.EnableDebugLog(False)
    return code


if __name__ == "__main__":
    sys.exit(main(sys.argv))
