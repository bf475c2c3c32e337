// Helpers shared by the test executables: scratch folders, file bytes and
// child processes (a test exe re-runs itself in a registered child mode).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace test_support {

// A fresh, empty folder under the temp directory; removed at process exit.
std::wstring MakeTempDir(const std::wstring& tag);
std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);
std::wstring SelfPath();

using ChildMain = int (*)(const std::vector<std::wstring>& args);
bool RegisterChild(const char* name, ChildMain main);

// Starts this executable as "--child=<name> <args>"; returns the process
// handle (caller closes) or null.
HANDLE StartChild(const std::string& name, const std::wstring& args);
// Starts and waits; returns the exit code, or -1 when it could not start.
int RunChild(const std::string& name, const std::wstring& args);

// Runs the registered child named in argv, if any; sets |exit_code|.
bool DispatchChild(int argc, wchar_t** argv, int* exit_code);

}  // namespace test_support

// Defines a child entry: TEST_CHILD(name) { ...; return code; }
#define TEST_CHILD(name)                                                           \
  static int name##_ChildMain(const std::vector<std::wstring>& args);              \
  static const bool name##_registered =                                            \
      ::test_support::RegisterChild(#name, &name##_ChildMain);                     \
  static int name##_ChildMain([[maybe_unused]] const std::vector<std::wstring>& args)
