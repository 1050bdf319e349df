// The one header that brings in the Windows headers. Only the Win32 platform
// files include it.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef UNICODE
#define UNICODE
#endif

// clang-format off
#include <windows.h>
#include <shellapi.h>
#include <msi.h>
#include <msiquery.h>
// clang-format on

#include <utility>

namespace sp::win32 {

/// An owned handle, closed by its traits when it goes out of scope.
template <typename Traits>
class ScopedHandle {
 public:
  using Handle = typename Traits::Handle;
  ScopedHandle() : handle_(Traits::Invalid()) {}
  explicit ScopedHandle(Handle handle) : handle_(handle) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& other) noexcept
      : handle_(std::exchange(other.handle_, Traits::Invalid())) {}
  ~ScopedHandle() {
    if (handle_ != Traits::Invalid()) Traits::Close(handle_);
  }
  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != Traits::Invalid(); }

 private:
  Handle handle_;
};

struct LocalMemoryTraits {
  using Handle = LPWSTR*;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ::LocalFree(h); }
};

/// The argument array of CommandLineToArgvW.
using ScopedArgv = ScopedHandle<LocalMemoryTraits>;

}  // namespace sp::win32
