// A C++ client of the Korvane automation server through early binding: the vtable of the dual
// interface _QuandrelCom, declared by the shipped header include/quandrelcom.h.
//
// Build (Visual C++, from this folder):
//   cl /EHsc /I..\include client_early.cpp ..\include\quandrelcom_i.c ole32.lib oleaut32.lib
// Build (mingw-w64):
//   g++ -municode -I../include client_early.cpp ../include/quandrelcom_i.c -lole32 -loleaut32
//   -luuid
// Usage: client_early.exe <in-file>
//   Calls every member once, shows how a run-time error of the server arrives (error 6) and exits
//   with Quandrel's result code.
#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "quandrelcom.h"

namespace {

// Owns a BSTR for the length of a call.
class Bstr {
 public:
  explicit Bstr(const std::wstring& text) : value_(::SysAllocString(text.c_str())) {}
  Bstr() = default;
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { ::SysFreeString(value_); }
  BSTR get() const { return value_; }
  BSTR* out() { return &value_; }
  std::wstring text() const { return value_ ? std::wstring(value_, ::SysStringLen(value_)) : L""; }

 private:
  BSTR value_ = nullptr;
};

std::wstring TrimEnd(std::wstring text) {
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
    text.pop_back();
  return text;
}

// The server's run-time error number is the low word of an HRESULT 0x800A....
void ShowError(const char* what, HRESULT hr) {
  std::wstring description;
  IErrorInfo* info = nullptr;
  if (::GetErrorInfo(0, &info) == S_OK && info) {
    Bstr text;
    if (SUCCEEDED(info->GetDescription(text.out()))) description = text.text();
    info->Release();
  }
  if (HRESULT_FACILITY(hr) == FACILITY_CONTROL)
    std::printf("Error %u as expected (%s): %ls\n", static_cast<unsigned>(HRESULT_CODE(hr)), what,
                description.empty() ? L"no description" : description.c_str());
  else
    std::printf("%s failed: HRESULT 0x%08lX\n", what, static_cast<unsigned long>(hr));
}

// COM starts the server in a folder of its own (on Windows %windir%\System32), and the server
// reads a command line from there: file names in it must be full paths.
std::wstring FullPath(const wchar_t* name) {
  wchar_t* full = ::_wfullpath(nullptr, name, 0);
  std::wstring path = full ? full : name;
  std::free(full);
  return path;
}

int Run(const std::wstring& inFile) {
  _QuandrelCom* engine = nullptr;
  HRESULT hr = ::CoCreateInstance(CLSID_QuandrelCom, nullptr, CLSCTX_LOCAL_SERVER, IID__QuandrelCom,
                                  reinterpret_cast<void**>(&engine));
  if (FAILED(hr)) {
    std::printf("Cannot create Korvane.QuandrelCom: HRESULT 0x%08lX (is it registered?)\n",
                static_cast<unsigned long>(hr));
    return 1;
  }
  int code = 1;
  do {
    // The log is per object: this object's calls are logged from now on.
    if (FAILED(hr = engine->EnableDebugLog(VARIANT_TRUE))) break;
    VARIANT_BOOL debug = VARIANT_FALSE;
    if (FAILED(hr = engine->get_g_isDebug(&debug))) break;
    std::printf("g_isDebug: %s\n", debug ? "True" : "False");

    // 0 is SW_HIDE; the result says whether the program started.
    VARIANT_BOOL started = VARIANT_FALSE;
    Bstr exitCommand(L"cmd.exe /c exit 0");
    if (FAILED(hr = engine->RunCmd(exitCommand.get(), 0, VARIANT_TRUE, &started))) break;
    std::printf("RunCmd returned: %s\n", started ? "True" : "False");

    Bstr output;
    Bstr echoCommand(L"cmd.exe /c echo hello from RunCmd2");
    if (FAILED(hr = engine->RunCmd2(echoCommand.get(), 0, output.out()))) break;
    std::printf("RunCmd2 returned: %ls\n", TrimEnd(output.text()).c_str());

    Bstr report;
    Bstr toHtml(L"-to html \"" + inFile + L"\" \"" + inFile + L".early.html\"");
    if (FAILED(hr = engine->QuandrelRunCmd(toHtml.get(), report.out()))) break;
    std::printf("QuandrelRunCmd returned: %ls\n", TrimEnd(report.text()).c_str());

    // Errors 53, 48 and 453 (engine library missing, not loadable, export missing) arrive here
    // as HRESULT 0x800A0035, 0x800A0030 and 0x800A01C5.
    long result = 0;
    Bstr toText(L"-to text \"" + inFile + L"\" \"" + inFile + L".early.txt\"");
    if (FAILED(hr = engine->Quandrel(toText.get(), &result))) break;
    std::printf("Quandrel returned: %ld\n", result);
    code = static_cast<int>(result);

    // A show-window code outside -32768..32767: run-time error 6 (Overflow).
    VARIANT_BOOL ignored = VARIANT_FALSE;
    HRESULT overflow = engine->RunCmd(exitCommand.get(), 70000, VARIANT_TRUE, &ignored);
    if (SUCCEEDED(overflow))
      std::printf("No error where error 6 was expected\n");
    else
      ShowError("RunCmd with show-window code 70000", overflow);

    hr = engine->EnableDebugLog(VARIANT_FALSE);
  } while (false);
  if (FAILED(hr)) {
    ShowError("a call", hr);
    code = 1;
  }
  engine->Release();
  return code;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::printf("Usage: client_early.exe <in-file>\n");
    return 1;
  }
  // The server answers in any apartment; a single-threaded one suits a console client.
  if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  int code = Run(FullPath(argv[1]));
  ::CoUninitialize();
  return code;
}
