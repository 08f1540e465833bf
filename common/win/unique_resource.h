// The generic owner behind UniqueHandle, UniqueModule, UniqueHkey, UniqueLocal and the like: one
// owner, closed once.
#pragma once

#include <windows.h>

#include <utility>

namespace korvane::win {

// Generic owner of a resource with a close function and an "empty" value.
template <typename T, typename Traits>
class UniqueResource {
 public:
  UniqueResource() noexcept = default;
  explicit UniqueResource(T value) noexcept : value_(value) {}
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueResource() { reset(); }

  T get() const noexcept { return value_; }
  bool valid() const noexcept { return Traits::IsValid(value_); }
  explicit operator bool() const noexcept { return valid(); }

  // Gives up ownership without closing.
  [[nodiscard]] T release() noexcept { return std::exchange(value_, Traits::Empty()); }

  // Closes the current value (if any) and takes the new one. Returns whether closing succeeded
  // (true when there was nothing to close).
  bool reset(T value = Traits::Empty()) noexcept {
    T old = std::exchange(value_, value);
    return Traits::IsValid(old) ? Traits::Close(old) : true;
  }

  // For out-parameters: closes the current value and hands out the slot.
  T* put() noexcept {
    reset();
    return &value_;
  }

 private:
  T value_ = Traits::Empty();
};

}  // namespace korvane::win
