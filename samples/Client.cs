// A C# client of the Korvane automation server through early binding: [ComImport] declarations
// of the dual interface _QuandrelCom (server/com/quandrelcom.idl, type library Korvane 1.0), in
// vtable order, with the dispatch identifiers of the type library.
//
// Build (Windows):  csc Client.cs        (or Mono: mcs Client.cs)
// Usage:            Client.exe <in-file>
// Calls every member once, shows how a run-time error of the server arrives (error 6, Overflow)
// and exits with Quandrel's result code. Build for AnyCPU, x86 or x64 alike: the server is a
// program of its own.
using System;
using System.Runtime.InteropServices;

namespace Korvane.Samples
{
    [ComImport]
    [Guid("79D8CD39-F512-46E7-8935-7A60569F6F2F")]
    [InterfaceType(ComInterfaceType.InterfaceIsDual)]
    public interface IQuandrelCom
    {
        [DispId(0x40030000)]
        bool g_isDebug
        {
            [return: MarshalAs(UnmanagedType.VariantBool)] get;
            [param: MarshalAs(UnmanagedType.VariantBool)] set;
        }

        [DispId(0x60030001)]
        void EnableDebugLog([MarshalAs(UnmanagedType.VariantBool)] bool bEnable);

        [DispId(0x60030002)]
        [return: MarshalAs(UnmanagedType.VariantBool)]
        bool RunCmd([MarshalAs(UnmanagedType.BStr)] string strCmdLine, int wShowWindow,
                    [MarshalAs(UnmanagedType.VariantBool)] bool bWait);

        [DispId(0x60030003)]
        [return: MarshalAs(UnmanagedType.BStr)]
        string RunCmd2([MarshalAs(UnmanagedType.BStr)] string strCmdLine, int wShowWindow);

        [DispId(0x60030004)]
        [return: MarshalAs(UnmanagedType.BStr)]
        string QuandrelRunCmd([MarshalAs(UnmanagedType.BStr)] string strCmdLine);

        [DispId(0x60030005)]
        int Quandrel([MarshalAs(UnmanagedType.BStr)] string strCmdLine);
    }

    // The creatable class Korvane.QuandrelCom.
    [ComImport]
    [Guid("BDBB0F90-863E-4814-820F-1657390654B0")]
    public class QuandrelComClass
    {
    }

    public static class Program
    {
        // The server's run-time errors arrive as HRESULT 0x800A0000 + number.
        static int ErrorNumber(COMException error)
        {
            uint hresult = unchecked((uint)error.ErrorCode);
            return (hresult & 0xFFFF0000u) == 0x800A0000u ? (int)(hresult & 0xFFFF) : -1;
        }

        public static int Main(string[] args)
        {
            if (args.Length < 1)
            {
                Console.WriteLine("Usage: Client.exe <in-file>");
                return 1;
            }
            // COM starts the server in a folder of its own (on Windows %windir%\System32), and
            // the server reads a command line from there: file names in it must be full paths.
            string inFile = System.IO.Path.GetFullPath(args[0]);

            IQuandrelCom engine = (IQuandrelCom)new QuandrelComClass();
            try
            {
                // The log is per object: this object's calls are logged from now on
                // (_debug.log beside QuandrelCom.exe).
                engine.EnableDebugLog(true);
                Console.WriteLine("g_isDebug: " + engine.g_isDebug);

                // 0 is SW_HIDE; the result says whether the program started.
                Console.WriteLine("RunCmd returned: " + engine.RunCmd("cmd.exe /c exit 0", 0, true));
                Console.WriteLine("RunCmd2 returned: " +
                                  engine.RunCmd2("cmd.exe /c echo hello from RunCmd2", 0).Trim());
                string report = engine.QuandrelRunCmd(
                    "-to html \"" + inFile + "\" \"" + inFile + ".cs.html\"");
                Console.WriteLine("QuandrelRunCmd returned: " + report.Trim());

                // Errors 53, 48 and 453 (engine library missing, not loadable, export missing)
                // arrive as COMException, like error 6 below.
                int code = engine.Quandrel("-to text \"" + inFile + "\" \"" + inFile + ".cs.txt\"");
                Console.WriteLine("Quandrel returned: " + code);

                try
                {
                    engine.RunCmd("cmd.exe /c exit 0", 70000, true);
                    Console.WriteLine("No error where error 6 was expected");
                }
                catch (COMException error)
                {
                    Console.WriteLine("Error " + ErrorNumber(error) + " as expected: " + error.Message);
                }

                engine.EnableDebugLog(false);
                return code;
            }
            catch (COMException error)
            {
                Console.WriteLine("A call failed: error " + ErrorNumber(error) + ", HRESULT 0x" +
                                  error.ErrorCode.ToString("X8") + ": " + error.Message);
                return 1;
            }
            finally
            {
                Marshal.ReleaseComObject(engine);
            }
        }
    }
}
