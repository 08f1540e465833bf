#include "output_capture.h"

#include <process.h>

#include <memory>
#include <new>

namespace korvane::server {

OutputCapture::OutputCapture(HANDLE readEnd, size_t limit) : readEnd_(readEnd), limit_(limit) {
  uintptr_t thread = ::_beginthreadex(nullptr, kReaderStackBytes, &OutputCapture::ReaderMain, this,
                                      STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread != 0) {
    reader_.reset(reinterpret_cast<HANDLE>(thread));
  } else {
    // Without a thread of its own the output is still read whole, here, before anyone waits
    // for the child: a child that fills the pipe could not end otherwise.
    ReadToEnd();
  }
}

OutputCapture::~OutputCapture() {
  if (reader_) ::WaitForSingleObject(reader_.get(), INFINITE);
}

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

}  // namespace korvane::server
