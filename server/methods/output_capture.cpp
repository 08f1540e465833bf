#include "server/methods/output_capture.h"

#include <process.h>

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include "server/methods/message_pump.h"

namespace korvane::server::methods {

OutputCapture::OutputCapture(HANDLE readEnd, size_t limit, Reader reader)
    : readEnd_(readEnd), limit_(limit) {
  if (reader != Reader::kThread) return;
  uintptr_t thread = ::_beginthreadex(nullptr, kReaderStackBytes, &OutputCapture::ReaderMain, this,
                                      STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  // Without a thread the caller reads (AwaitChildAndOutput), so the server's thread is never
  // blocked on the pipe.
  if (thread != 0) reader_.reset(reinterpret_cast<HANDLE>(thread));
}

bool OutputCapture::ReadAvailable() {
  char buffer[4096];
  for (;;) {
    DWORD available = 0;
    if (!::PeekNamedPipe(readEnd_, nullptr, 0, nullptr, &available, nullptr)) return false;
    if (available == 0) return true;
    DWORD got = 0;
    const DWORD ask = available < sizeof buffer ? available : static_cast<DWORD>(sizeof buffer);
    if (!::ReadFile(readEnd_, buffer, ask, &got, nullptr)) return false;
    Keep(buffer, got);
  }
}

void AwaitChildAndOutput(HANDLE process, OutputCapture& capture) {
  std::vector<HANDLE> pending{process};
  if (capture.finished()) {
    pending.push_back(capture.finished());
    if (SUCCEEDED(WaitForAllPumping(pending))) return;
    // A failed wait on the child ends the waiting for it, as a failed poll would; the output is
    // still read to its end. Should even that wait fail, the capture waits for its reader
    // without serving calls before its bytes are read: nothing spins either way.
    pending.erase(std::remove(pending.begin(), pending.end(), process), pending.end());
    static_cast<void>(WaitForAllPumping(pending));
    return;
  }
  // No reader thread: the pipe is looked at between short waits for the child or a message.
  constexpr DWORD kPollMs = 10;
  std::optional<WPARAM> quit;
  while (capture.ReadAvailable())
    if (FAILED(PumpFor(pending, kPollMs, quit))) ::Sleep(kPollMs);  // never spin
  // The output is read to its end; a failed wait for the child ends the waiting, as above.
  if (!pending.empty()) static_cast<void>(WaitForAllPumping(pending));
  if (quit) ::PostQuitMessage(static_cast<int>(*quit));
}

OutputCapture::~OutputCapture() { JoinReader(); }

bool OutputCapture::JoinReader() {
  return !reader_ || ::WaitForSingleObject(reader_.get(), INFINITE) == WAIT_OBJECT_0;
}

std::string OutputCapture::TakeBytes() { return JoinReader() ? std::move(bytes_) : std::string(); }

bool OutputCapture::complete() { return JoinReader() && complete_; }

unsigned __stdcall OutputCapture::ReaderMain(void* self) {
  static_cast<OutputCapture*>(self)->ReadToEnd();
  return 0;
}

void OutputCapture::ReadToEnd() {
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kReadSize]);
  char small[512];
  char* into = buffer ? buffer.get() : small;
  const DWORD size = buffer ? kReadSize : static_cast<DWORD>(sizeof small);
  DWORD got = 0;
  // A successful read of zero bytes is not the end; the first failed read (normally
  // ERROR_BROKEN_PIPE, once every write end is closed) is.
  while (::ReadFile(readEnd_, into, size, &got, nullptr)) Keep(into, got);
}

void OutputCapture::Keep(const char* data, DWORD size) {
  if (!complete_ || size == 0) return;
  if (size > limit_ - bytes_.size()) {
    complete_ = false;
  } else {
    try {
      bytes_.append(data, size);  // amortised growth: the whole capture is linear
    } catch (const std::bad_alloc&) {
      complete_ = false;
    }
  }
  if (!complete_) std::string().swap(bytes_);  // give the memory back at once
}

}  // namespace korvane::server::methods
