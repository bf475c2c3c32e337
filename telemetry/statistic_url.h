// The statistics address template every report uses: the packaged game's
// statistics host, the path "/wan" and the query keys the server reads.
#pragma once

#include <array>
#include <cstddef>

#include "game_build.h"

namespace telemetry {
namespace internal {

template <size_t A, size_t B, size_t C>
constexpr std::array<wchar_t, A + B + C - 2> Concat(const wchar_t (&a)[A], const wchar_t (&b)[B],
                                                    const wchar_t (&c)[C]) {
  std::array<wchar_t, A + B + C - 2> out{};
  size_t n = 0;
  for (size_t i = 0; i + 1 < A; ++i) out[n++] = a[i];
  for (size_t i = 0; i + 1 < B; ++i) out[n++] = b[i];
  for (size_t i = 0; i < C; ++i) out[n++] = c[i];
  return out;
}

inline constexpr auto kStatisticsUrlTemplateText =
    Concat(L"http://", game_build::kStatisticsHost,
           L"/wan?type={type}&action={action}&channel={pid}&mid={mid}&mid2={mid2}");

}  // namespace internal

inline constexpr const wchar_t* kStatisticsUrlTemplate = internal::kStatisticsUrlTemplateText.data();

}  // namespace telemetry
