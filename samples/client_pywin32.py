"""A Python client of the Korvane automation server through pywin32 (late binding).

Usage (Windows, Python with pywin32 installed: pip install pywin32):
    python client_pywin32.py <in-file>
Calls every member once, shows how a run-time error of the server arrives (error 6, Overflow)
and exits with Quandrel's result code. 32- and 64-bit Python work alike.
"""
import os
import sys

import pythoncom
import pywintypes
import win32com.client


def error_number(error):
    """The server's run-time error number from a pywintypes.com_error, else None."""
    excepinfo = error.excepinfo
    if excepinfo and excepinfo[5] is not None and (excepinfo[5] & 0xFFFF0000) == 0x800A0000:
        return excepinfo[5] & 0xFFFF
    return None


def main(argv):
    if len(argv) < 2:
        print("Usage: python client_pywin32.py <in-file>")
        return 1
    # COM starts the server in a folder of its own (on Windows %windir%\System32), and the
    # server reads a command line from there: file names in it must be full paths.
    in_file = os.path.abspath(argv[1])

    engine = win32com.client.Dispatch("Korvane.QuandrelCom")

    # The log is per object: this object's calls are logged from now on (_debug.log beside
    # QuandrelCom.exe).
    engine.EnableDebugLog(True)
    print("g_isDebug:", engine.g_isDebug)

    # 0 is SW_HIDE; the result says whether the program started.
    print("RunCmd returned:", engine.RunCmd("cmd.exe /c exit 0", 0, True))
    print("RunCmd2 returned:", engine.RunCmd2("cmd.exe /c echo hello from RunCmd2", 0).strip())
    report = engine.QuandrelRunCmd('-to html "%s" "%s.py.html"' % (in_file, in_file))
    print("QuandrelRunCmd returned:", report.strip())

    # Errors 53, 48 and 453 (engine library missing, not loadable, export missing) arrive as
    # pywintypes.com_error, like error 6 below.
    code = engine.Quandrel('-to text "%s" "%s.py.txt"' % (in_file, in_file))
    print("Quandrel returned:", code)

    try:
        engine.RunCmd("cmd.exe /c exit 0", 70000, True)
        print("No error where error 6 was expected")
    except pywintypes.com_error as error:
        print("Error %s as expected: %s" % (error_number(error), error.excepinfo[2]))

    engine.EnableDebugLog(False)
    del engine
    pythoncom.CoUninitialize()
    return code


if __name__ == "__main__":
    sys.exit(main(sys.argv))
