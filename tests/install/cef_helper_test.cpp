// The runtime installer CefHelper.dll as the install flow relies on it: the
// status codes of "StartEx", the runtime placed per kernel, the engine
// resource file preferred when present, and "StartFlashEx".
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/scoped_handle.h"
#include "tests/support/test_support.h"
#include "tests/utils/fixture_path.h"
#include "utils/utils.h"

namespace {

using SetProductInfoFn = int(WINAPI*)(const wchar_t*, const wchar_t*, const wchar_t*);
using StartExFn = int(WINAPI*)(const wchar_t*, const wchar_t*);
using StartFlashExFn = int(WINAPI*)(const wchar_t*, const wchar_t*);

constexpr wchar_t kNewKernel[] = L"3.3497.1841.0";
constexpr wchar_t kOldKernel[] = L"3.2623.1401.0";
constexpr wchar_t kFlash[] = L"24.0.0.221";

// A freshly loaded helper per test: its product info is process state of
// the library and must not leak from one test into the next.
class CefHelperTest : public testing::Test {
 protected:
  void SetUp() override {
    module_.Reset(::LoadLibraryW(test_fixtures::WindowsPath(NQ_CEFHELPER_DLL).c_str()));
    ASSERT_TRUE(module_.IsValid());
    set_product_ = reinterpret_cast<SetProductInfoFn>(::GetProcAddress(module_.Get(), "SetProductInfo"));
    start_ = reinterpret_cast<StartExFn>(::GetProcAddress(module_.Get(), "StartEx"));
    start_flash_ = reinterpret_cast<StartFlashExFn>(::GetProcAddress(module_.Get(), "StartFlashEx"));
    ASSERT_TRUE(set_product_ && start_ && start_flash_);
    base_ = test_support::MakeTempDir(L"cefhelper");
    utils_ = base_ + L"\\Utils";
    ASSERT_TRUE(::CreateDirectoryW(utils_.c_str(), nullptr));
  }

  int SetProduct() {
    return set_product_(L"quarvel", base_.c_str(), (utils_ + L"\\7z.dll").c_str());
  }

  base::ScopedModule module_;
  SetProductInfoFn set_product_ = nullptr;
  StartExFn start_ = nullptr;
  StartFlashExFn start_flash_ = nullptr;
  std::wstring base_;
  std::wstring utils_;
};

TEST_F(CefHelperTest, StartExRefusesBadCalls) {
  // Without the product info nothing is placed.
  EXPECT_EQ(0, start_(utils_.c_str(), kNewKernel));
  EXPECT_FALSE(test_support::FileExists(utils_ + L"\\cef69\\libcef.dll"));
  ASSERT_EQ(1, SetProduct());
  const std::wstring missing = base_ + L"\\missing";
  const struct {
    const wchar_t* dir;
    const wchar_t* kernel;
  } kCases[] = {
      {nullptr, kNewKernel},           {L"", kNewKernel},
      {missing.c_str(), kNewKernel},   {utils_.c_str(), L"3.3497.1841"},
      {utils_.c_str(), L"1.0.0.0"},    {utils_.c_str(), nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << (c.dir ? c.dir : L"(null)") << " "
                                    << (c.kernel ? c.kernel : L"(null)"));
    EXPECT_EQ(0, start_(c.dir, c.kernel));
  }
  EXPECT_FALSE(test_support::FileExists(missing));
  EXPECT_EQ(0, set_product_(nullptr, base_.c_str(), L"x"));
}

TEST_F(CefHelperTest, StartExPlacesTheRuntimeOfEachKernel) {
  ASSERT_EQ(1, SetProduct());
  static const struct {
    const wchar_t* kernel;
    const wchar_t* dir;
  } kCases[] = {{kNewKernel, L"\\cef69"}, {kOldKernel, L"\\cef"}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.kernel);
    const std::wstring runtime = utils_ + c.dir + L"\\libcef.dll";
    EXPECT_EQ(2, start_(utils_.c_str(), c.kernel));  // copied from the helper
    ASSERT_TRUE(test_support::FileExists(runtime));
    EXPECT_EQ(c.kernel, utils::GetFileVersionText(runtime));
    EXPECT_FALSE(test_support::FileExists(runtime + L".part"));
    EXPECT_EQ(1, start_(utils_.c_str(), c.kernel));  // present now
  }
}

TEST_F(CefHelperTest, StartExPrefersTheEngineResourceFile) {
  ASSERT_EQ(1, SetProduct());
  const std::wstring resource_file = utils_ + L"\\CefRes69.dll";
  ASSERT_TRUE(::CopyFileW(test_fixtures::WindowsPath(NQ_CEFRES_NEW_DLL).c_str(),
                          resource_file.c_str(), FALSE));
  EXPECT_EQ(3, start_(utils_.c_str(), kNewKernel));
  EXPECT_EQ(kNewKernel, utils::GetFileVersionText(utils_ + L"\\cef69\\libcef.dll"));
}

TEST_F(CefHelperTest, StartExFallsBackFromADamagedResourceFile) {
  ASSERT_EQ(1, SetProduct());
  ASSERT_TRUE(test_support::WriteFileBytes(utils_ + L"\\CefRes69.dll", "not a module"));
  EXPECT_EQ(2, start_(utils_.c_str(), kNewKernel));
  EXPECT_EQ(kNewKernel, utils::GetFileVersionText(utils_ + L"\\cef69\\libcef.dll"));
}

TEST_F(CefHelperTest, StartFlashEx) {
  const std::wstring kernel = utils_ + L"\\cef69";
  const std::wstring plugin = kernel + L"\\pepflashplayer.dll";
  // Only the carried version can be provided.
  EXPECT_EQ(0, start_flash_(kernel.c_str(), L"32.0.0.465"));
  EXPECT_EQ(0, start_flash_(kernel.c_str(), nullptr));
  EXPECT_EQ(0, start_flash_(nullptr, kFlash));
  EXPECT_FALSE(test_support::FileExists(plugin));
  // The kernel directory is made when missing.
  EXPECT_EQ(1, start_flash_(kernel.c_str(), kFlash));
  EXPECT_EQ(kFlash, utils::GetFileVersionText(plugin));
  // A plug-in of another version is replaced.
  ASSERT_TRUE(test_support::WriteFileBytes(plugin, "old plug-in"));
  EXPECT_EQ(1, start_flash_(kernel.c_str(), kFlash));
  EXPECT_EQ(kFlash, utils::GetFileVersionText(plugin));
}

}  // namespace
