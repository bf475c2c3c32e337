// The true Windows version. Compatibility shims make GetVersionEx report an
// older Windows to unmanifested programs; the kernel's own version function
// and the kernel file's version resource are asked as well.
#pragma once

#include <windows.h>

class COSVersionCheck {
 public:
  // The process-wide record, measured on first use. Safe from any thread.
  static COSVersionCheck* GetInstance();

  // Fills major, minor and build number (and the platform id) of |record|.
  void GetVersion(OSVERSIONINFOEXW* record) const;
  // major x 10 + minor, e.g. 61 for Windows 7, 100 for Windows 10.
  DWORD VersionNumber() const { return version_.dwMajorVersion * 10 + version_.dwMinorVersion; }
  // True when the kernel file showed a newer version than the system reported.
  bool corrected() const { return corrected_; }

 private:
  COSVersionCheck();

  OSVERSIONINFOEXW version_ = {};
  bool corrected_ = false;
};
