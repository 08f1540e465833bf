// A second client of the server for the command-runner tests, usually run as the child of a
// RunCmd2 call so that its calls reach the server while that call waits. Steps, in order:
//   unmarshal <file>  take the object whose marshalled reference the file holds
//   same-run          RunCmd2 on that object; prints "same=<text>"
//   other-run         RunCmd2 on a new object of its own; prints "other=<text>"
//   enable <0|1>      EnableDebugLog on that object; prints "enable=<status>"
//   slow-run <pidfile> <event>  RunCmd2 on a new object of its own, with a child that writes its
//                     process id into <pidfile> and waits for the named event
// The child it runs is runner_child.exe beside this program. Prints "timeout" and exits with 3
// when its calls take longer than a minute, so a server that does not serve them cannot hang
// the test.
#include <windows.h>

#include <objbase.h>
#include <process.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/win/ansi_text.h"
#include "common/win/com_ptr.h"
#include "common/win/unique_bstr.h"
#include "common/win/unique_handle.h"
#include "server/com/quandrelcom.h"

namespace {

using korvane::win::ComPtr;
using korvane::win::UniqueBstr;
using korvane::win::UniqueHandle;

std::vector<std::string> g_steps;

void Print(const std::string& text) {
  DWORD wrote = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()),
              &wrote, nullptr);
}

std::string Status(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

// runner_child.exe beside this program, running `steps`.
std::wstring ChildCommand(const std::string& steps) {
  wchar_t self[MAX_PATH];
  std::wstring folder(self, ::GetModuleFileNameW(nullptr, self, MAX_PATH));
  folder.resize(folder.find_last_of(L'\\') + 1);
  return L"\"" + folder + L"runner_child.exe\" " + korvane::win::FromAnsi(steps);
}

std::string RunCmd2On(_QuandrelCom* object, const std::string& steps) {
  if (object == nullptr) return "no object\r\n";
  UniqueBstr line(ChildCommand(steps));
  UniqueBstr text;
  HRESULT hr = object->RunCmd2(line.get(), 0, text.put());
  return SUCCEEDED(hr) ? korvane::win::ToAnsi(korvane::win::MarkUncarried(text.view())).bytes
                       : "error " + Status(hr) + "\r\n";
}

// RunCmd2 on a new object of this client's own.
std::string RunCmd2OnNewObject(const std::string& steps) {
  ComPtr<_QuandrelCom> other;
  HRESULT hr = ::CoCreateInstance(CLSID_QuandrelCom, nullptr, CLSCTX_LOCAL_SERVER, IID__QuandrelCom,
                                  other.put_void());
  return SUCCEEDED(hr) ? RunCmd2On(other.get(), steps) : "create " + Status(hr) + "\r\n";
}

ComPtr<_QuandrelCom> Unmarshal(const std::string& path) {
  ComPtr<_QuandrelCom> object;
  UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
  ComPtr<IStream> stream;
  if (!file || FAILED(::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()))) return object;
  char bytes[4096];
  for (DWORD got = 0; ::ReadFile(file.get(), bytes, sizeof bytes, &got, nullptr) && got > 0;)
    stream->Write(bytes, got, nullptr);
  stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
  HRESULT hr = ::CoUnmarshalInterface(stream.get(), IID__QuandrelCom, object.put_void());
  if (FAILED(hr)) Print("unmarshal=" + Status(hr) + "\r\n");
  return object;
}

unsigned __stdcall RunSteps(void*) {
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  {
    ComPtr<_QuandrelCom> same;
    for (size_t i = 0; i < g_steps.size(); ++i) {
      const std::string& step = g_steps[i];
      if (step == "unmarshal" && i + 1 < g_steps.size()) {
        same = Unmarshal(g_steps[++i]);
      } else if (step == "same-run") {
        Print("same=" + RunCmd2On(same.get(), "out nested-same"));
      } else if (step == "other-run") {
        Print("other=" + RunCmd2OnNewObject("out nested-other"));
      } else if (step == "slow-run" && i + 2 < g_steps.size()) {
        Print("slow=" + RunCmd2OnNewObject("pidfile \"" + g_steps[i + 1] + "\" wait-event " +
                                           g_steps[i + 2] + " out slow"));
        i += 2;
      } else if (step == "enable" && i + 1 < g_steps.size()) {
        VARIANT_BOOL on = g_steps[++i] == "1" ? VARIANT_TRUE : VARIANT_FALSE;
        HRESULT hr = same ? same->EnableDebugLog(on) : E_POINTER;
        Print("enable=" + Status(hr) + "\r\n");
      } else {
        Print("unknown step " + step + "\r\n");
      }
    }
  }
  ::CoUninitialize();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  g_steps.assign(argv + 1, argv + argc);
  UniqueHandle worker(
      reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, &RunSteps, nullptr, 0, nullptr)));
  if (!worker) return 2;
  if (::WaitForSingleObject(worker.get(), 60000) != WAIT_OBJECT_0) {
    Print("timeout\r\n");
    ::ExitProcess(3);
  }
  return 0;
}
