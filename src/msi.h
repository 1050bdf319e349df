// Windows Installer handles.
#pragma once

#include "platform/platform.h"

namespace sp {

/// Owns one Windows Installer handle and closes it, once, when it goes out of
/// scope. A handle of 0 is none and is never closed.
class MsiHandleHolder {
 public:
  explicit MsiHandleHolder(WindowsInstaller& msi, MsiHandle handle = 0)
      : msi_(msi), handle_(handle) {}
  MsiHandleHolder(const MsiHandleHolder&) = delete;
  MsiHandleHolder& operator=(const MsiHandleHolder&) = delete;
  ~MsiHandleHolder() { Reset(); }

  MsiHandle get() const { return handle_; }
  /// For the out parameter of an opening call; closes what was held first.
  MsiHandle& Receive() {
    Reset();
    return handle_;
  }
  /// Closes the handle now.
  void Reset() {
    if (handle_ != 0) msi_.MsiCloseHandle(handle_);
    handle_ = 0;
  }

 private:
  WindowsInstaller& msi_;
  MsiHandle handle_;
};

}  // namespace sp
