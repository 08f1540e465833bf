// Gathers everything written into a pipe until every write end is closed, on a reader thread of
// its own: the server's thread only waits for the reader to finish (see message_pump.h), and a
// child that writes more than the pipe holds is never stalled by it. Only where no thread can be
// started does the server's thread read, between short waits.
#pragma once

#include <windows.h>

#include <cstddef>
#include <limits>
#include <string>

#include "common/win/unique_handle.h"

namespace korvane::server::methods {

class OutputCapture {
 public:
  // Bytes asked for by one read: as much as a pipe hands over at once, since every read is a
  // round trip to the kernel (to the Wine server under Wine). The text returned is the same
  // whatever the size.
  static constexpr DWORD kReadSize = 64 * 1024;
  // The reader's stack is reserved small: its buffer lives on the heap, and many captures may
  // be nested in a 32-bit address space.
  static constexpr unsigned kReaderStackBytes = 64 * 1024;

  // Who reads: a thread of the capture's own, or (when none can be started, and in tests) the
  // caller, through ReadAvailable.
  enum class Reader { kThread, kCaller };

  // Starts reading `readEnd`, which the caller keeps open until the capture is gone. At most
  // `limit` bytes are kept; past it (or when memory runs out) the rest is still read, so the
  // writers are not blocked, but dropped, and complete() turns false.
  explicit OutputCapture(HANDLE readEnd, size_t limit = std::numeric_limits<size_t>::max(),
                         Reader reader = Reader::kThread);
  OutputCapture(const OutputCapture&) = delete;
  OutputCapture& operator=(const OutputCapture&) = delete;
  // Waits for the reader: it never outlives the capture.
  ~OutputCapture();

  // Signalled once reading has ended: every write end closed, or a read failed. Null when no
  // reader thread runs: the caller then reads with ReadAvailable.
  HANDLE finished() const { return reader_.get(); }

  // Without a reader thread: reads what the pipe holds now, never waiting for more. False once
  // reading has ended (every write end closed, or a read failed).
  bool ReadAvailable();

  // The bytes in the order they were read, and whether all were kept. Both first wait for the
  // reader thread to end, so nothing is read while it still writes, whatever the wait before
  // them did.
  std::string TakeBytes();
  bool complete();

 private:
  static unsigned __stdcall ReaderMain(void* self);
  // False when the reader could not be awaited (it may still be running).
  bool JoinReader();
  void ReadToEnd();
  void Keep(const char* data, DWORD size);

  HANDLE readEnd_;
  size_t limit_;
  std::string bytes_;
  bool complete_ = true;
  win::UniqueHandle reader_;
};

// Returns once the child `process` has ended and `capture` has read to the end of the pipe
// (which takes every write end being closed, a grandchild's too), serving calls meanwhile. The
// server's thread never blocks on the pipe: without a reader thread it reads only what is there
// and waits for messages or the child in between.
void AwaitChildAndOutput(HANDLE process, OutputCapture& capture);

}  // namespace korvane::server::methods
