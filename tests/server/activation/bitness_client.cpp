// A compiled client of the server, built for both bitnesses, for the client table
// (client_bitness_test.cpp). Usage: bitness_client late|vtable <case> <folder>
//   late    every call by name through IDispatch, as a script makes it
//   vtable  every call through _QuandrelCom, marshalled from the registered type library
// The cases and what they print are the script client's (the table's VBScript), line for line:
// a call prints "<label>=<value>", or "<label>=<number>|<description>" when it fails, the
// number as VBScript's Err.Number gives it.
#include <windows.h>

#include <objbase.h>
#include <oleauto.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/win/ansi_text.h"
#include "common/win/com_ptr.h"
#include "common/win/late_binding.h"
#include "common/win/scoped_com_init.h"
#include "common/win/unique_bstr.h"
#include "common/win/variant_args.h"
#include "server/com/quandrelcom.h"

namespace {

using korvane::win::ComPtr;
using korvane::win::UniqueBstr;

void Print(const std::wstring& line) {
  const std::string bytes = korvane::win::ToAnsi(korvane::win::MarkUncarried(line + L"\r\n")).bytes;
  DWORD wrote = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &wrote, nullptr);
}

// VBScript's Err.Number: the run-time error number for FACILITY_CONTROL, else the HRESULT.
std::wstring ErrorNumber(HRESULT hr) {
  if ((static_cast<unsigned long>(hr) & 0xFFFF0000ul) == 0x800A0000ul)
    return std::to_wstring(hr & 0xFFFF);
  return std::to_wstring(static_cast<long>(hr));
}

// One call's outcome: a value, or a failure with its number and description.
struct Answer {
  HRESULT hr = S_OK;
  std::wstring value;
  std::wstring description;
};

void Show(const wchar_t* label, const Answer& answer) {
  Print(std::wstring(label) + L"=" +
        (SUCCEEDED(answer.hr) ? answer.value : ErrorNumber(answer.hr) + L"|" + answer.description));
}

std::wstring Bool(VARIANT_BOOL value) { return value ? L"True" : L"False"; }

// Line breaks as the script shows them, so that a captured output stays on one line.
std::wstring OneLine(std::wstring text) {
  for (size_t at = 0; (at = text.find(L"\r\n", at)) != std::wstring::npos;)
    text.replace(at, 2, L"|");
  return text;
}

// The calls of a case, made one way or the other.
class Client {
 public:
  virtual ~Client() = default;
  virtual Answer RunCmd(const std::wstring& line, LONG show, bool wait) = 0;
  virtual Answer RunCmd2(const std::wstring& line, LONG show) = 0;
  virtual Answer QuandrelRunCmd(const std::wstring& line) = 0;
  virtual Answer Quandrel(const std::wstring& line) = 0;
  virtual Answer EnableDebugLog(bool on) = 0;
  virtual Answer IsDebug() = 0;
};

class LateBound : public Client {
 public:
  explicit LateBound(ComPtr<IDispatch> object) : object_(std::move(object)) {}

  Answer RunCmd(const std::wstring& line, LONG show, bool wait) override {
    UniqueBstr text(line);
    return Call(L"RunCmd", {korvane::win::BorrowedTextArg(text.get()), korvane::win::LongArg(show),
                            korvane::win::BoolArg(wait)});
  }
  Answer RunCmd2(const std::wstring& line, LONG show) override {
    UniqueBstr text(line);
    return Call(L"RunCmd2",
                {korvane::win::BorrowedTextArg(text.get()), korvane::win::LongArg(show)});
  }
  Answer QuandrelRunCmd(const std::wstring& line) override {
    UniqueBstr text(line);
    return Call(L"QuandrelRunCmd", {korvane::win::BorrowedTextArg(text.get())});
  }
  Answer Quandrel(const std::wstring& line) override {
    UniqueBstr text(line);
    return Call(L"Quandrel", {korvane::win::BorrowedTextArg(text.get())});
  }
  Answer EnableDebugLog(bool on) override {
    return Call(L"EnableDebugLog", {korvane::win::BoolArg(on)});
  }
  Answer IsDebug() override { return Call(L"g_isDebug", {}, DISPATCH_PROPERTYGET); }

 private:
  Answer Call(const wchar_t* name, const std::vector<VARIANT>& args, WORD flags = DISPATCH_METHOD) {
    korvane::win::DispatchOutcome call =
        korvane::win::InvokeByName(object_.get(), name, args, flags);
    Answer answer;
    answer.hr = call.hr;
    if (call.hr == DISP_E_EXCEPTION) {
      answer.hr = call.excep.status();
      answer.description = std::wstring(call.excep.description());
    } else if (SUCCEEDED(call.hr)) {
      const VARIANT& v = call.value();
      if (v.vt == VT_BOOL)
        answer.value = Bool(v.boolVal);
      else if (v.vt == VT_I4)
        answer.value = std::to_wstring(v.lVal);
      else if (v.vt == VT_BSTR)
        answer.value = call.Text();
    }
    return answer;
  }

  ComPtr<IDispatch> object_;
};

class Vtable : public Client {
 public:
  explicit Vtable(ComPtr<_QuandrelCom> object) : object_(std::move(object)) {}

  Answer RunCmd(const std::wstring& line, LONG show, bool wait) override {
    VARIANT_BOOL ran = VARIANT_FALSE;
    HRESULT hr =
        object_->RunCmd(UniqueBstr(line).get(), show, wait ? VARIANT_TRUE : VARIANT_FALSE, &ran);
    return Outcome(hr, Bool(ran));
  }
  Answer RunCmd2(const std::wstring& line, LONG show) override {
    UniqueBstr output;
    HRESULT hr = object_->RunCmd2(UniqueBstr(line).get(), show, output.put());
    return Outcome(hr, std::wstring(output.view()));
  }
  Answer QuandrelRunCmd(const std::wstring& line) override {
    UniqueBstr output;
    HRESULT hr = object_->QuandrelRunCmd(UniqueBstr(line).get(), output.put());
    return Outcome(hr, std::wstring(output.view()));
  }
  Answer Quandrel(const std::wstring& line) override {
    LONG result = 0;
    HRESULT hr = object_->Quandrel(UniqueBstr(line).get(), &result);
    return Outcome(hr, std::to_wstring(result));
  }
  Answer EnableDebugLog(bool on) override {
    return Outcome(object_->EnableDebugLog(on ? VARIANT_TRUE : VARIANT_FALSE), L"");
  }
  Answer IsDebug() override {
    VARIANT_BOOL value = VARIANT_FALSE;
    HRESULT hr = object_->get_g_isDebug(&value);
    return Outcome(hr, Bool(value));
  }

 private:
  // A failed call's description is the error information the proxy carried across.
  static Answer Outcome(HRESULT hr, std::wstring value) {
    Answer answer{hr, std::move(value), L""};
    ComPtr<IErrorInfo> info;
    if (FAILED(hr) && ::GetErrorInfo(0, info.put()) == S_OK && info) {
      UniqueBstr description;
      if (SUCCEEDED(info->GetDescription(description.put())))
        answer.description = std::wstring(description.view());
    }
    return answer;
  }

  ComPtr<_QuandrelCom> object_;
};

// Creates the object by ProgID, as CreateObject does; null when the class is not to be had.
std::unique_ptr<Client> Create(bool vtable) {
  CLSID clsid{};
  if (FAILED(::CLSIDFromProgID(L"Korvane.QuandrelCom", &clsid))) return nullptr;
  if (vtable) {
    ComPtr<_QuandrelCom> object;
    if (FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID__QuandrelCom,
                                  object.put_void())))
      return nullptr;
    return std::make_unique<Vtable>(std::move(object));
  }
  ComPtr<IDispatch> object;
  if (FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                object.put_void())))
    return nullptr;
  return std::make_unique<LateBound>(std::move(object));
}

void RunCase(Client& client, const std::wstring& which, const std::wstring& folder) {
  if (which == L"create") {
    Print(L"created");
  } else if (which == L"methods") {
    const std::wstring input = L"\"" + folder + L"\\in.txt\"";
    Show(L"RunCmd2", [&] {
      Answer a = client.RunCmd2(L"cmd /c echo hello& echo world>&2", 0);
      a.value = OneLine(a.value);
      return a;
    }());
    Show(L"RunCmd", client.RunCmd(L"cmd /c exit 3", 0, true));
    Show(L"missing", client.RunCmd(L"C:\\none\\x.exe", 0, true));
    Show(L"QuandrelRunCmd", [&] {
      Answer a = client.QuandrelRunCmd(L"-to text " + input + L" \"" + folder + L"\\exe.txt\"");
      a.value = OneLine(a.value);
      return a;
    }());
    Show(L"Quandrel", client.Quandrel(L"-to text " + input + L" \"" + folder + L"\\lib.txt\""));
    Show(L"EnableDebugLog", client.EnableDebugLog(true));
    Show(L"g_isDebug", client.IsDebug());
  } else if (which == L"overflow") {
    Show(L"RunCmd", client.RunCmd(L"cmd /c exit 0", 65536, false));
    Show(L"RunCmd2", client.RunCmd2(L"cmd /c exit 0", -65536));
    Show(L"g_isDebug", client.IsDebug());
  } else if (which == L"quandrel") {
    Show(L"Quandrel", client.Quandrel(L"in.txt"));
  } else {
    Print(L"unknown case " + which);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  const std::wstring how = argv[1];
  korvane::win::ScopedComInit com(COINIT_APARTMENTTHREADED);
  std::unique_ptr<Client> client = Create(how == L"vtable");
  if (!client) {
    Print(L"create failed");
    return 0;
  }
  RunCase(*client, argv[2], argv[3]);
  return 0;
}
