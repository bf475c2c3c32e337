#include "telemetry/product_tables.h"

#include <windows.h>

#include "telemetry/statistic_url.h"

namespace telemetry {
namespace {

// Row 0 is the client (the demo product of the Brevplay family). It has no
// marker: it is what remains when no other product's marker is found.
const ProductRow kRows[] = {
    {0, L"", L"Brevplay", L"SOFTWARE\\Brevplay", L"Nevaquar", kStatisticsUrlTemplate},
    {1, L"", L"", L"", L"", L""},
    {2, L"", L"", L"", L"", L""},
    {3, L"", L"", L"", L"", L""},
    {4, L"", L"", L"", L"", L""},
    {5, L"", L"", L"", L"", L""},
    {6, L"", L"", L"", L"", L""},
    {7, L"", L"", L"", L"", L""},
    {8, L"", L"", L"", L"", L""},
    {9, L"", L"", L"", L"", L""},
    {10, L"", L"", L"", L"", L""},
    {11, L"", L"", L"", L"", L""},
    {12, L"", L"", L"", L"", L""},
    {13, L"", L"", L"", L"", L""},
    {14, L"", L"", L"", L"", L""},
};

// The maker's companies, in Latin and Chinese script.
constexpr const wchar_t* kAcceptedPublishers[] = {
    L"Nevaquar Interactive Ltd.",
    L"Nevaquar Technology (Shenzhen) Co., Ltd.",
    L"Brevplay Network Technology Co., Ltd.",
    L"Zov Software Co., Ltd.",
    L"Zov Network Technology Co., Ltd.",
    L"Quarvel Games Ltd.",
    L"Ferrant Digital Entertainment Co., Ltd.",
    L"Velmora Online Ltd.",
    L"涅瓦夸互动有限公司",
    L"涅瓦夸科技（深圳）有限公司",
    L"布雷夫普雷网络科技有限公司",
    L"佐夫软件有限公司",
    L"佐夫网络科技有限公司",
    L"夸维尔游戏有限公司",
    L"费兰特数字娱乐有限公司",
    L"维尔莫拉在线有限公司",
};
static_assert(sizeof(kAcceptedPublishers) / sizeof(kAcceptedPublishers[0]) == 16);

bool OneOf(int id, std::initializer_list<int> ids) {
  for (int candidate : ids) {
    if (candidate == id) return true;
  }
  return false;
}

}  // namespace

const ProductRow* ProductRows(int* count) {
  *count = static_cast<int>(sizeof(kRows) / sizeof(kRows[0]));
  return kRows;
}

const ProductRow* FindProduct(int id) {
  for (const ProductRow& row : kRows) {
    if (row.id == id) return &row;
  }
  return nullptr;
}

bool UsesZovSettingsFile(int id) { return OneOf(id, {1, 2, 3, 4, 5, 7, 9}); }
const wchar_t* ChannelValueName(int id) { return OneOf(id, {1, 2, 12, 14}) ? L"VendorID" : L"PID"; }
bool ChannelFromCurrentUser(int id) { return OneOf(id, {3, 10}); }
bool ChannelJoinsSubPid(int id) { return id == 4; }

bool IsAcceptedPublisher(std::wstring_view display_name) {
  if (display_name.empty()) return false;
  for (const wchar_t* publisher : kAcceptedPublishers) {
    if (::CompareStringOrdinal(display_name.data(), static_cast<int>(display_name.size()), publisher, -1, TRUE) ==
        CSTR_EQUAL) {
      return true;
    }
  }
  return false;
}

}  // namespace telemetry
