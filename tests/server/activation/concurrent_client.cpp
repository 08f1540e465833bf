// A COM client for the concurrent-activation test. Many copies start together and wait at a
// shared gate so that they activate the server at nearly the same moment:
//   concurrent_client <ready-semaphore> <go-event> <hold-ms>
// It reports itself ready, waits for the gate, creates an object, uses it, holds it for
// <hold-ms> and releases it. Exit code 0 on success, else the failing HRESULT (or 1 when a value
// read back is wrong); the failing step goes to standard output.
#include <windows.h>

#include <objbase.h>

#include <cstdio>
#include <cstdlib>

#include "common/win/com_ptr.h"
#include "common/win/scoped_com_init.h"
#include "common/win/unique_handle.h"
#include "server/com/quandrelcom.h"

namespace {

using korvane::win::ComPtr;
using korvane::win::UniqueHandle;

int Fail(const char* step, HRESULT hr) {
  std::printf("%s failed: 0x%08lX\n", step, static_cast<unsigned long>(hr));
  return static_cast<int>(hr);
}

int UseServer(DWORD holdMs) {
  korvane::win::ScopedComInit com(COINIT_APARTMENTTHREADED);
  if (!com.ok()) return Fail("CoInitializeEx", com.status());
  ComPtr<_QuandrelCom> object;
  HRESULT hr = ::CoCreateInstance(CLSID_QuandrelCom, nullptr, CLSCTX_LOCAL_SERVER, IID__QuandrelCom,
                                  object.put_void());
  if (FAILED(hr)) return Fail("CoCreateInstance", hr);
  if (FAILED(hr = object->EnableDebugLog(VARIANT_TRUE))) return Fail("EnableDebugLog", hr);
  VARIANT_BOOL value = VARIANT_FALSE;
  if (FAILED(hr = object->get_g_isDebug(&value))) return Fail("get_g_isDebug", hr);
  if (value != VARIANT_TRUE) return Fail("switch not on", 1);
  if (FAILED(hr = object->put_g_isDebug(VARIANT_FALSE))) return Fail("put_g_isDebug", hr);
  if (FAILED(hr = object->get_g_isDebug(&value))) return Fail("get_g_isDebug", hr);
  if (value != VARIANT_FALSE) return Fail("switch not off", 1);
  ::Sleep(holdMs);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::printf("usage: concurrent_client <ready-semaphore> <go-event> <hold-ms>\n");
    return 2;
  }
  UniqueHandle ready(::OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, argv[1]));
  UniqueHandle go(::OpenEventA(SYNCHRONIZE, FALSE, argv[2]));
  if (!ready || !go) return Fail("opening the gate", HRESULT_FROM_WIN32(::GetLastError()));
  ::ReleaseSemaphore(ready.get(), 1, nullptr);
  if (::WaitForSingleObject(go.get(), 60000) != WAIT_OBJECT_0) return Fail("gate", E_ABORT);
  return UseServer(static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10)));
}
