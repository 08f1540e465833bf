// The compiled client of the client table (client_bitness_test.cpp), built for both bitnesses: it
// creates the object by ProgID and calls it through _QuandrelCom, marshalled from the registered
// type library. Usage: bitness_client <case> <folder>
// Its cases and what they print are the table's script's, line for line: a call prints
// "<label>=<value>", or "<label>=<number>|<description>" when it fails, the number as VBScript's
// Err.Number gives it.
#include <windows.h>

#include <objbase.h>
#include <oleauto.h>

#include <string>

#include "common/win/ansi_text.h"
#include "common/win/com_ptr.h"
#include "common/win/scoped_com_init.h"
#include "common/win/unique_bstr.h"
#include "server/com/quandrelcom.h"

namespace {

using korvane::win::UniqueBstr;

void Print(const std::wstring& line) {
  const std::string bytes = korvane::win::ToAnsi(korvane::win::MarkUncarried(line + L"\r\n")).bytes;
  DWORD wrote = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &wrote, nullptr);
}

// A call's line: its value, or its failure with the description the proxy carried across.
void Show(const wchar_t* label, HRESULT hr, const std::wstring& value) {
  if (SUCCEEDED(hr)) return Print(std::wstring(label) + L"=" + value);
  // VBScript's Err.Number: the run-time error number for FACILITY_CONTROL, else the HRESULT.
  std::wstring line = std::wstring(label) + L"=" +
                      ((static_cast<unsigned long>(hr) & 0xFFFF0000ul) == 0x800A0000ul
                           ? std::to_wstring(hr & 0xFFFF)
                           : std::to_wstring(static_cast<long>(hr))) +
                      L"|";
  korvane::win::ComPtr<IErrorInfo> info;
  UniqueBstr description;
  if (::GetErrorInfo(0, info.put()) == S_OK && info &&
      SUCCEEDED(info->GetDescription(description.put())))
    line += description.view();
  Print(line);
}

UniqueBstr Bstr(std::wstring_view text) { return UniqueBstr(text); }

std::wstring Bool(VARIANT_BOOL value) { return value ? L"True" : L"False"; }

// Line breaks as the script shows them, so that a captured output stays on one line.
std::wstring OneLine(const UniqueBstr& text) {
  std::wstring line(text.view());
  for (size_t at = 0; (at = line.find(L"\r\n", at)) != std::wstring::npos;)
    line.replace(at, 2, L"|");
  return line;
}

void RunCase(_QuandrelCom* o, const std::wstring& which, const std::wstring& folder) {
  VARIANT_BOOL flag = VARIANT_FALSE;
  UniqueBstr text;
  LONG result = 0;
  HRESULT hr = S_OK;
  if (which == L"create") {
    Print(L"created");
  } else if (which == L"methods") {
    const std::wstring input = L"-to text \"" + folder + L"\\in.txt\" \"" + folder;
    hr = o->RunCmd2(Bstr(L"cmd /c echo hello& echo world>&2").get(), 0, text.put());
    Show(L"RunCmd2", hr, OneLine(text));
    hr = o->RunCmd(Bstr(L"cmd /c exit 3").get(), 0, VARIANT_TRUE, &flag);
    Show(L"RunCmd", hr, Bool(flag));
    hr = o->RunCmd(Bstr(L"C:\\none\\x.exe").get(), 0, VARIANT_TRUE, &flag);
    Show(L"missing", hr, Bool(flag));
    hr = o->QuandrelRunCmd(Bstr(input + L"\\exe.txt\"").get(), text.put());
    Show(L"QuandrelRunCmd", hr, OneLine(text));
    hr = o->Quandrel(Bstr(input + L"\\lib.txt\"").get(), &result);
    Show(L"Quandrel", hr, std::to_wstring(result));
    Show(L"EnableDebugLog", o->EnableDebugLog(VARIANT_TRUE), L"");
    hr = o->get_g_isDebug(&flag);
    Show(L"g_isDebug", hr, Bool(flag));
  } else if (which == L"overflow") {
    hr = o->RunCmd(Bstr(L"cmd /c exit 0").get(), 65536, VARIANT_FALSE, &flag);
    Show(L"RunCmd", hr, Bool(flag));
    hr = o->RunCmd2(Bstr(L"cmd /c exit 0").get(), -65536, text.put());
    Show(L"RunCmd2", hr, OneLine(text));
    hr = o->get_g_isDebug(&flag);
    Show(L"g_isDebug", hr, Bool(flag));
  } else if (which == L"quandrel") {
    hr = o->Quandrel(Bstr(L"in.txt").get(), &result);
    Show(L"Quandrel", hr, std::to_wstring(result));
  } else {
    Print(L"unknown case " + which);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  korvane::win::ScopedComInit com(COINIT_APARTMENTTHREADED);
  korvane::win::ComPtr<_QuandrelCom> object;
  CLSID clsid{};
  if (FAILED(::CLSIDFromProgID(L"Korvane.QuandrelCom", &clsid)) ||
      FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID__QuandrelCom,
                                object.put_void()))) {
    Print(L"create failed");
    return 0;
  }
  RunCase(object.get(), argv[1], argv[2]);
  return 0;
}
