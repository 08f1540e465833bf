#include "tests/server/runners/message_window.h"

#include <gtest/gtest.h>

#include <memory>

namespace korvane::test {

namespace {
constexpr wchar_t kClassName[] = L"KorvaneRunnerTestWindow";
constexpr UINT kRunAction = WM_APP + 1;
}  // namespace

MessageWindow::MessageWindow() {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = &MessageWindow::Proc;
  windowClass.hInstance = ::GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kClassName;
  ::RegisterClassW(&windowClass);  // fails harmlessly when already registered
  hwnd_ = ::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            windowClass.hInstance, nullptr);
  EXPECT_NE(hwnd_, nullptr) << "CreateWindowEx failed, error " << ::GetLastError();
}

MessageWindow::~MessageWindow() {
  if (hwnd_) ::DestroyWindow(hwnd_);
}

void MessageWindow::Post(std::function<void()> action) {
  auto* owned = new std::function<void()>(std::move(action));
  if (!::PostMessageW(hwnd_, kRunAction, 0, reinterpret_cast<LPARAM>(owned))) {
    delete owned;
    ADD_FAILURE() << "PostMessage failed, error " << ::GetLastError();
  }
}

LRESULT CALLBACK MessageWindow::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != kRunAction) return ::DefWindowProcW(hwnd, message, wParam, lParam);
  std::unique_ptr<std::function<void()>> action(reinterpret_cast<std::function<void()>*>(lParam));
  (*action)();
  return 0;
}

}  // namespace korvane::test
