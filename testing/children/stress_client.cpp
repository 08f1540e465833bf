// One client of the stress test: its own object, a mix of every method, every result checked.
//   stress_client <runner_child.exe> <work folder> <client number> <calls>
//                 [<start event> <child step>...]
// With a start event it holds its calls open in the server: once it has its object it leaves
// "ready-<client>" in the work folder and waits for the start event, and every RunCmd2 child
// that echoes a marker first runs the given runner_child steps (e.g. "wait-event <name>",
// "sleep <ms>"); once its calls have returned it leaves "returned-<client>", before it lets go
// of its object (that release is a call to the server too, which may queue behind others).
// Prints one line per wrong result and exits with their count (0: all right); a failure to
// reach the server at all exits with 1000.
#include <windows.h>

#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/win/ansi_text.h"
#include "common/win/com_ptr.h"
#include "common/win/scoped_com_init.h"
#include "common/win/unique_bstr.h"
#include "common/win/unique_handle.h"
#include "server/com/quandrelcom.h"

namespace {

using korvane::win::ComPtr;
using korvane::win::UniqueBstr;

constexpr HRESULT kOverflow = static_cast<HRESULT>(0x800A0006);
int g_wrong = 0;

void Wrong(int call, const char* what, HRESULT hr, std::wstring_view got = {}) {
  ++g_wrong;
  std::printf("call %d: %s (0x%08lX) gave \"%s\"\n", call, what, static_cast<unsigned long>(hr),
              korvane::win::ToAnsi(korvane::win::MarkUncarried(got)).bytes.c_str());
  std::fflush(stdout);
}

std::wstring Hex(const std::string& text) {
  static const char kDigits[] = "0123456789abcdef";
  std::wstring hex;
  for (unsigned char c : text) {
    hex += static_cast<wchar_t>(kDigits[c >> 4]);
    hex += static_cast<wchar_t>(kDigits[c & 15]);
  }
  return hex;
}

// Leaves an empty file for the test to see.
bool Touch(const std::string& path) {
  return korvane::win::UniqueHandle(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr))
      .valid();
}

// RunCmd2 answers `expectedHr` and, on success, exactly `expected`; a failure leaves no text.
void CheckRunCmd2(_QuandrelCom* object, int call, const char* what, const std::wstring& command,
                  LONG show, HRESULT expectedHr, std::wstring_view expected = {}) {
  UniqueBstr line{std::wstring_view(command)}, text;
  const HRESULT hr = object->RunCmd2(line.get(), show, text.put());
  if (hr != expectedHr || (SUCCEEDED(hr) ? text.view() != expected : text.get() != nullptr))
    Wrong(call, what, hr, text.view());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 && argc < 7) {
    std::printf(
        "usage: stress_client <runner_child.exe> <work folder> <client> <calls> "
        "[<start event> <child step>...]\n");
    return 1000;
  }
  const bool held = argc >= 7;
  std::wstring waitFirst;
  for (int i = 6; i < argc; ++i) waitFirst += L" " + korvane::win::FromAnsi(argv[i]);
  const std::wstring child = L"\"" + korvane::win::FromAnsi(argv[1]) + L"\"";
  const std::string folder = argv[2];
  const std::string client = argv[3];
  const int calls = std::atoi(argv[4]);

  korvane::win::ScopedComInit com(COINIT_APARTMENTTHREADED);
  ComPtr<_QuandrelCom> object;
  HRESULT hr = ::CoCreateInstance(CLSID_QuandrelCom, nullptr, CLSCTX_LOCAL_SERVER, IID__QuandrelCom,
                                  object.put_void());
  if (FAILED(hr)) {
    Wrong(-1, "CoCreateInstance", hr);
    return 1000;
  }
  if (held) {
    korvane::win::UniqueHandle start(::OpenEventA(SYNCHRONIZE, FALSE, argv[5]));
    if (!start || !Touch(folder + "\\ready-" + client) ||
        ::WaitForSingleObject(start.get(), INFINITE) != WAIT_OBJECT_0) {
      Wrong(-1, "start event", HRESULT_FROM_WIN32(::GetLastError()));
      return 1000;
    }
  }
  VARIANT_BOOL debug = VARIANT_FALSE;
  for (int i = 0; i < calls; ++i) {
    const std::string marker = "c" + client + "-" + std::to_string(i);
    switch (i % 6) {
      case 0:  // output comes back whole
        CheckRunCmd2(object.get(), i, "RunCmd2", child + waitFirst + L" hex " + Hex(marker), 0,
                     S_OK, korvane::win::FromAnsi(marker));
        break;
      case 1:  // a program that cannot start
        CheckRunCmd2(object.get(), i, "RunCmd2 missing program", L"C:\\no such folder\\missing.exe",
                     0, S_OK, L"failed to execute command");
        break;
      case 2: {  // waiting for a child
        UniqueBstr command{std::wstring_view(child + L" exit 0")};
        VARIANT_BOOL done = VARIANT_FALSE;
        hr = object->RunCmd(command.get(), 0, VARIANT_TRUE, &done);
        if (hr != S_OK || done != VARIANT_TRUE) Wrong(i, "RunCmd", hr);
        break;
      }
      case 3: {  // the switch reads back what was set
        debug = debug ? VARIANT_FALSE : VARIANT_TRUE;
        VARIANT_BOOL read = 7;
        hr = object->EnableDebugLog(debug);
        if (SUCCEEDED(hr)) hr = object->get_g_isDebug(&read);
        if (hr != S_OK || read != debug) Wrong(i, "EnableDebugLog", hr);
        break;
      }
      case 4:  // the overflow error
        CheckRunCmd2(object.get(), i, "RunCmd2 overflow", child + L" exit 0", 65536, kOverflow);
        break;
      case 5: {  // the engine library in the server
        const std::string out = folder + "\\out-" + marker + ".txt";
        UniqueBstr line{std::wstring_view(
            korvane::win::FromAnsi("-to text \"" + folder + "\\in.txt\" \"" + out + "\""))};
        LONG code = -99;
        hr = object->Quandrel(line.get(), &code);
        if (hr != S_OK || code != 0 || ::GetFileAttributesA(out.c_str()) == INVALID_FILE_ATTRIBUTES)
          Wrong(i, "Quandrel", hr);
        break;
      }
    }
  }
  if (held) {
    if (!Touch(folder + "\\returned-" + client))
      Wrong(-1, "returned file", HRESULT_FROM_WIN32(::GetLastError()));
  }
  return g_wrong;
}
