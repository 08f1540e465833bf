// A message-only window on the test's thread that runs posted actions when they are dispatched:
// a stand-in for a call from another client served while a method pumps messages.
#pragma once

#include <windows.h>

#include <functional>

namespace korvane::test {

class MessageWindow {
 public:
  MessageWindow();
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;
  ~MessageWindow();

  HWND hwnd() const { return hwnd_; }
  // Runs `action` on this thread when the posted message is dispatched.
  void Post(std::function<void()> action);

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  HWND hwnd_ = nullptr;
};

}  // namespace korvane::test
