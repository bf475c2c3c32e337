// Logging cost: records per second with the switch file present, and
// nanoseconds per statement with it absent (the common case in the field).
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "base/logging.h"

namespace {

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

}  // namespace

int wmain() {
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring dir = std::wstring(temp) + L"nq_log_bench";
  ::CreateDirectoryW(dir.c_str(), nullptr);
  const std::wstring path = dir + L"\\bench.log";
  ::DeleteFileW(path.c_str());
  ::DeleteFileW((path + L".on").c_str());
  LogUtils::Logger* logger = LogUtils::GetInstance();
  const std::wstring url = L"http://127.0.0.1:28710/login.html?channel=Ferrant";

  // Off: no switch file, so each statement is one locked comparison.
  logger->Init(path, L"", 0, 0, 104857600);
  constexpr int kOff = 10000000;
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < kOff; ++i) LOG(Info) << L"MainControl::OnBaseWebEvent arg  " << url << i;
  double off = Seconds(std::chrono::steady_clock::now() - t0);

  // On: the switch file exists when Init runs.
  ::CloseHandle(::CreateFileW((path + L".on").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  logger->Init(path, L"", 0, 0, 104857600);
  constexpr int kOn = 200000;
  t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < kOn; ++i) LOG(Info) << L"MainControl::OnBaseWebEvent arg  " << url << i;
  double on = Seconds(std::chrono::steady_clock::now() - t0);

  std::printf("switch on : %.0f records/s (%d records, %.2f s)\n", kOn / on, kOn, on);
  std::printf("switch off: %.1f ns/statement (%d statements)\n", off * 1e9 / kOff, kOff);
  ::DeleteFileW(path.c_str());
  ::DeleteFileW((path + L".on").c_str());
  return 0;
}
