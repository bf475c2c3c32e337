// Shared main of the test executables: either a registered child mode or
// GoogleTest.
#include <gtest/gtest.h>
#include <windows.h>

#include "tests/support/test_support.h"

int wmain(int argc, wchar_t** argv) {
  // A crash ends the process at once instead of waiting in an error dialog.
  ::SetErrorMode(SEM_NOGPFAULTERRORBOX | SEM_FAILCRITICALERRORS);
  int exit_code = 0;
  if (test_support::DispatchChild(argc, argv, &exit_code)) return exit_code;
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
