#include "engine/part_plan.h"

#include <gtest/gtest.h>

#include <limits>

namespace zafrel {
namespace {

constexpr int64_t kMin = 33554432;
constexpr int64_t kGiB = int64_t(1) << 30;

TEST(PartPlan, PartCountOrNothingForAPlanTheStoreWouldRefuse)
{
    const struct {
        int64_t size, partSize;
        std::optional<int64_t> parts;
    } cases[] = {
        {kMin + 1, kMin, 2},
        {3 * kMin, kMin, 3},
        {10000 * kMin, kMin, 10000},
        {10000 * kMin + 1, kMin, std::nullopt},                        // 10,001 parts
        {int64_t(1) << 40, 105 << 20, 9987},                           // 1 TiB as the stand-in plans it
        {6 * kGiB, 5 * kGiB, 2},
        {6 * kGiB, 5 * kGiB + 1, std::nullopt},                        // a part above 5 GiB
        {kMin + 1, int64_t(1) << 62, std::nullopt},
        {kMin + 1, kMin - 1, std::nullopt},                            // below the minimum
        {kMin + 1, 0, std::nullopt},
        {kMin + 1, -kMin, std::nullopt},
        {0, kMin, std::nullopt},                                       // no part at all
        {std::numeric_limits<int64_t>::max(), kMin, std::nullopt},     // no overflow
        {std::numeric_limits<int64_t>::max(), 5 * kGiB, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(partCount(c.size, c.partSize, kMin), c.parts) << c.size << " / " << c.partSize;
}

TEST(PartPlan, APartTakesOnePermitPerMinimumPartItSpans)
{
    const struct {
        int64_t partSize;
        int permits, expected;
    } cases[] = {
        {kMin, 8, 1}, {kMin + 1, 8, 2}, {105 << 20, 8, 4}, {5 * kGiB, 8, 8}, {2 * kMin, 1, 1}, {1, 8, 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(permitsPerPart(c.partSize, kMin, c.permits), c.expected) << c.partSize << " of " << c.permits;
}

}  // namespace
}  // namespace zafrel
