// Runs a function when the scope ends, for the one-off clean-ups that deserve no type of their own.
#pragma once

#include <utility>

namespace korvane::win {

template <typename F>
class ScopeExit {
 public:
  explicit ScopeExit(F f) noexcept : f_(std::move(f)) {}
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;
  ~ScopeExit() {
    if (armed_) f_();
  }
  // The clean-up is no longer needed.
  void Dismiss() noexcept { armed_ = false; }

 private:
  F f_;
  bool armed_ = true;
};

template <typename F>
[[nodiscard]] ScopeExit<F> MakeScopeExit(F f) noexcept {
  return ScopeExit<F>(std::move(f));
}

}  // namespace korvane::win
