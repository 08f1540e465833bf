// A C++ client of the Korvane automation server through late binding: IDispatch, members found
// by name at run time, as script languages call them. Needs no header of the server.
//
// Build (Visual C++):  cl /EHsc client_late.cpp ole32.lib oleaut32.lib
// Build (mingw-w64):   g++ -municode client_late.cpp -lole32 -loleaut32 -luuid
// Usage: client_late.exe <in-file>
//   Calls every member once, shows how a run-time error of the server arrives (error 6) and exits
//   with Quandrel's result code.
#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Owns a VARIANT.
struct Variant {
  VARIANT v;
  Variant() { ::VariantInit(&v); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { ::VariantClear(&v); }
};

VARIANT Text(const std::wstring& text) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = ::SysAllocString(text.c_str());
  return v;
}

VARIANT Long(long value) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}

VARIANT Bool(bool value) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = VT_BOOL;
  v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

// Calls a member by name with its arguments in natural order (they are cleared). On a run-time
// error of the server the result is DISP_E_EXCEPTION and `error` holds its number and text.
HRESULT Call(IDispatch* object, const wchar_t* name, WORD flags, std::vector<VARIANT> args,
             Variant* result, EXCEPINFO* error) {
  DISPID id = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (SUCCEEDED(hr)) {
    // IDispatch takes the arguments last first.
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr,
                         static_cast<UINT>(reversed.size()), 0};
    *error = EXCEPINFO{};
    UINT badArgument = 0;
    hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &result->v, error,
                        &badArgument);
  }
  for (VARIANT& arg : args) ::VariantClear(&arg);
  return hr;
}

void ClearExcepInfo(EXCEPINFO* error) {
  ::SysFreeString(error->bstrSource);
  ::SysFreeString(error->bstrDescription);
  ::SysFreeString(error->bstrHelpFile);
  *error = EXCEPINFO{};
}

// Shows a failed call: a server's run-time error by number and description, anything else by
// its HRESULT.
void ShowError(const char* what, HRESULT hr, EXCEPINFO* error) {
  if (hr == DISP_E_EXCEPTION && HRESULT_FACILITY(error->scode) == FACILITY_CONTROL)
    std::printf("Error %u as expected (%s): %ls\n",
                static_cast<unsigned>(HRESULT_CODE(error->scode)), what,
                error->bstrDescription ? error->bstrDescription : L"no description");
  else
    std::printf("%s failed: HRESULT 0x%08lX\n", what, static_cast<unsigned long>(hr));
  ClearExcepInfo(error);
}

std::wstring TrimmedText(const VARIANT& v) {
  if (v.vt != VT_BSTR || !v.bstrVal) return L"";
  std::wstring text(v.bstrVal, ::SysStringLen(v.bstrVal));
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
    text.pop_back();
  return text;
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
  CLSID clsid{};
  HRESULT hr = ::CLSIDFromProgID(L"Korvane.QuandrelCom", &clsid);
  IDispatch* engine = nullptr;
  if (SUCCEEDED(hr))
    hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                            reinterpret_cast<void**>(&engine));
  if (FAILED(hr)) {
    std::printf("Cannot create Korvane.QuandrelCom: HRESULT 0x%08lX (is it registered?)\n",
                static_cast<unsigned long>(hr));
    return 1;
  }
  EXCEPINFO error{};
  int code = 1;
  const wchar_t* failed = nullptr;
  do {
    // The log is per object: this object's calls are logged from now on.
    Variant none;
    if (FAILED(hr =
                   Call(engine, L"EnableDebugLog", DISPATCH_METHOD, {Bool(true)}, &none, &error))) {
      failed = L"EnableDebugLog";
      break;
    }
    Variant debug;
    if (FAILED(hr = Call(engine, L"g_isDebug", DISPATCH_PROPERTYGET, {}, &debug, &error))) {
      failed = L"g_isDebug";
      break;
    }
    std::printf("g_isDebug: %s\n", debug.v.vt == VT_BOOL && debug.v.boolVal ? "True" : "False");

    Variant started;
    if (FAILED(hr = Call(engine, L"RunCmd", DISPATCH_METHOD,
                         {Text(L"cmd.exe /c exit 0"), Long(0), Bool(true)}, &started, &error))) {
      failed = L"RunCmd";
      break;
    }
    std::printf("RunCmd returned: %s\n",
                started.v.vt == VT_BOOL && started.v.boolVal ? "True" : "False");

    Variant output;
    if (FAILED(hr =
                   Call(engine, L"RunCmd2", DISPATCH_METHOD,
                        {Text(L"cmd.exe /c echo hello from RunCmd2"), Long(0)}, &output, &error))) {
      failed = L"RunCmd2";
      break;
    }
    std::printf("RunCmd2 returned: %ls\n", TrimmedText(output.v).c_str());

    Variant report;
    if (FAILED(hr = Call(engine, L"QuandrelRunCmd", DISPATCH_METHOD,
                         {Text(L"-to html \"" + inFile + L"\" \"" + inFile + L".late.html\"")},
                         &report, &error))) {
      failed = L"QuandrelRunCmd";
      break;
    }
    std::printf("QuandrelRunCmd returned: %ls\n", TrimmedText(report.v).c_str());

    // Errors 53, 48 and 453 (engine library missing, not loadable, export missing) arrive here
    // as DISP_E_EXCEPTION with the number in the EXCEPINFO, like error 6 below.
    Variant result;
    if (FAILED(hr = Call(engine, L"Quandrel", DISPATCH_METHOD,
                         {Text(L"-to text \"" + inFile + L"\" \"" + inFile + L".late.txt\"")},
                         &result, &error)) ||
        FAILED(hr = ::VariantChangeType(&result.v, &result.v, 0, VT_I4))) {
      failed = L"Quandrel";
      break;
    }
    std::printf("Quandrel returned: %ld\n", static_cast<long>(result.v.lVal));
    code = static_cast<int>(result.v.lVal);

    // A show-window code outside -32768..32767: run-time error 6 (Overflow).
    Variant ignored;
    HRESULT overflow =
        Call(engine, L"RunCmd", DISPATCH_METHOD,
             {Text(L"cmd.exe /c exit 0"), Long(70000), Bool(true)}, &ignored, &error);
    if (SUCCEEDED(overflow))
      std::printf("No error where error 6 was expected\n");
    else
      ShowError("RunCmd with show-window code 70000", overflow, &error);

    Variant off;
    if (FAILED(hr = Call(engine, L"EnableDebugLog", DISPATCH_METHOD, {Bool(false)}, &off, &error)))
      failed = L"EnableDebugLog";
  } while (false);
  if (failed) {
    std::printf("%ls: ", failed);
    ShowError("the call", hr, &error);
    code = 1;
  }
  engine->Release();
  return code;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::printf("Usage: client_late.exe <in-file>\n");
    return 1;
  }
  if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  int code = Run(FullPath(argv[1]));
  ::CoUninitialize();
  return code;
}
