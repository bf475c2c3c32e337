// The engine host process CefView.exe lives exactly as long as the process
// it serves and refuses to start without one.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/scoped_handle.h"
#include "tests/support/test_support.h"
#include "tests/utils/fixture_path.h"

namespace {

// A stand-in for the client: lives until the test sets the event named in
// its argument.
TEST_CHILD(cefview_parent) {
  base::ScopedKernelHandle event(::OpenEventW(SYNCHRONIZE, FALSE, args.at(0).c_str()));
  if (!event) return 3;
  ::WaitForSingleObject(event.Get(), 30000);
  return 0;
}

// Starts CefView.exe with |args|; returns the process handle.
base::ScopedKernelHandle StartCefView(const std::wstring& args) {
  std::wstring command = L"\"" + test_fixtures::WindowsPath(NQ_CEFVIEW_EXE) + L"\" " + args;
  STARTUPINFOW si = {sizeof(si)};
  PROCESS_INFORMATION pi = {};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
    return base::ScopedKernelHandle();
  }
  ::CloseHandle(pi.hThread);
  return base::ScopedKernelHandle(pi.hProcess);
}

DWORD ExitCodeWithin(HANDLE process, DWORD ms) {
  if (::WaitForSingleObject(process, ms) != WAIT_OBJECT_0) return STILL_ACTIVE;
  DWORD code = 0;
  ::GetExitCodeProcess(process, &code);
  return code;
}

TEST(CefViewTest, RefusesAMissingOrUnusableParent) {
  static const wchar_t* const kArgs[] = {L"", L"--parent-pid=", L"--parent-pid=12x",
                                         L"--parent-pid=99999999999", L"--parent-pid=-4",
                                         L"--other=1"};
  for (const wchar_t* args : kArgs) {
    SCOPED_TRACE(args);
    base::ScopedKernelHandle view = StartCefView(args);
    ASSERT_TRUE(view.IsValid());
    EXPECT_EQ(2u, ExitCodeWithin(view.Get(), 10000));
  }
}

TEST(CefViewTest, EndsWithItsParent) {
  const std::wstring event_name = L"nq_cefview_parent_" + std::to_wstring(::GetCurrentProcessId());
  base::ScopedKernelHandle event(::CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
  ASSERT_TRUE(event.IsValid());
  base::ScopedKernelHandle parent(test_support::StartChild("cefview_parent", event_name));
  ASSERT_TRUE(parent.IsValid());
  base::ScopedKernelHandle view =
      StartCefView(L"--parent-pid=" + std::to_wstring(::GetProcessId(parent.Get())));
  ASSERT_TRUE(view.IsValid());
  // Alive while the parent lives.
  EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), ExitCodeWithin(view.Get(), 500));
  ::SetEvent(event.Get());
  EXPECT_EQ(0u, ExitCodeWithin(parent.Get(), 10000));
  EXPECT_EQ(0u, ExitCodeWithin(view.Get(), 10000));
}

}  // namespace
