// Short memories of thread starts: the ring of recent starts and the pending
// hand-overs of start calls that have not returned yet.
#include <gtest/gtest.h>

#include <vector>

#include "store/thread_starts.h"

namespace {

TEST(RecentStarts, RemembersTheLast64AndForgetsTheOldest) {
    RecentStarts recent{};
    EXPECT_FALSE(wasStartedRecently(recent, 0)) << "an unused entry is no start of hash 0";
    EXPECT_FALSE(wasStartedRecently(recent, 5));
    for (ThreadHash hash = 1; hash <= RECENT_START_COUNT; ++hash) noteThreadStart(recent, hash);
    for (ThreadHash hash = 1; hash <= RECENT_START_COUNT; ++hash) {
        ASSERT_TRUE(wasStartedRecently(recent, hash)) << hash;
    }
    noteThreadStart(recent, -7);
    noteThreadStart(recent, 1000);
    EXPECT_FALSE(wasStartedRecently(recent, 1));
    EXPECT_FALSE(wasStartedRecently(recent, 2));
    for (ThreadHash hash : {3, RECENT_START_COUNT, -7, 1000}) EXPECT_TRUE(wasStartedRecently(recent, hash)) << hash;
    EXPECT_FALSE(wasStartedRecently(recent, 999));
}

TEST(RecentStarts, KeepsGoingAroundTheRing) {
    RecentStarts recent{};
    for (ThreadHash hash = 1; hash <= 10 * RECENT_START_COUNT + 3; ++hash) noteThreadStart(recent, hash);
    EXPECT_TRUE(wasStartedRecently(recent, 10 * RECENT_START_COUNT + 3));
    EXPECT_TRUE(wasStartedRecently(recent, 9 * RECENT_START_COUNT + 4));
    EXPECT_FALSE(wasStartedRecently(recent, 9 * RECENT_START_COUNT + 3));
}

// Pops every hand-over of caller, newest first.
std::vector<ThreadHash> popAll(PendingStarts& pending, ThreadHash caller) {
    std::vector<ThreadHash> started;
    ThreadHash hash = 0;
    while (popPendingStart(pending, caller, &hash)) started.push_back(hash);
    return started;
}

TEST(PendingStarts, EachCallerGetsItsOwnNewestFirst) {
    PendingStarts pending{};
    pushPendingStart(pending, 7, 71);
    pushPendingStart(pending, 8, 81);
    pushPendingStart(pending, 7, 72);
    pushPendingStart(pending, 9, 91);
    pushPendingStart(pending, 7, 73);
    EXPECT_EQ(popAll(pending, 7), (std::vector<ThreadHash>{73, 72, 71}));
    EXPECT_EQ(popAll(pending, 8), (std::vector<ThreadHash>{81}));
    EXPECT_EQ(popAll(pending, 9), (std::vector<ThreadHash>{91}));
}

TEST(PendingStarts, NestedPushesAndPopsInterleave) {
    PendingStarts pending{};
    ThreadHash started = 0;
    pushPendingStart(pending, 7, 71);
    pushPendingStart(pending, 7, 72);
    ASSERT_TRUE(popPendingStart(pending, 7, &started));
    EXPECT_EQ(started, 72);
    pushPendingStart(pending, 7, 73);
    EXPECT_EQ(popAll(pending, 7), (std::vector<ThreadHash>{73, 71}));
}

TEST(PendingStarts, CallerWithoutHandOversGetsNothing) {
    PendingStarts pending{};
    ThreadHash started = 42;
    EXPECT_FALSE(popPendingStart(pending, 7, &started));
    EXPECT_FALSE(popPendingStart(pending, 0, &started)) << "unused entries belong to no caller";
    pushPendingStart(pending, 8, 81);
    EXPECT_FALSE(popPendingStart(pending, 7, &started));
    EXPECT_EQ(started, 42);
    EXPECT_FALSE(hasPendingStart(pending, 7));
    EXPECT_FALSE(hasPendingStart(pending, 0));
    EXPECT_TRUE(hasPendingStart(pending, 8));
    ASSERT_TRUE(popPendingStart(pending, 8, &started));
    EXPECT_FALSE(hasPendingStart(pending, 8));
}

TEST(PendingStarts, MoreThan64EvictTheOldest) {
    PendingStarts pending{};
    pushPendingStart(pending, 8, 81);   // the oldest, of another caller
    for (ThreadHash i = 1; i <= PENDING_START_COUNT; ++i) pushPendingStart(pending, 7, 700 + i);
    std::vector<ThreadHash> expected;
    for (ThreadHash i = PENDING_START_COUNT; i >= 1; --i) expected.push_back(700 + i);
    EXPECT_EQ(popAll(pending, 7), expected);
    EXPECT_EQ(popAll(pending, 8), std::vector<ThreadHash>{});

    pushPendingStart(pending, 9, 91);
    for (ThreadHash i = 1; i <= PENDING_START_COUNT; ++i) pushPendingStart(pending, 9, 900 + i);
    EXPECT_EQ(popAll(pending, 9).size(), static_cast<std::size_t>(PENDING_START_COUNT)) << "91 was evicted";
}

// Room freed by pops is used again before any live hand-over is pushed out.
TEST(PendingStarts, ALiveHandOverOutlastsManyFinishedOnes) {
    PendingStarts pending{};
    ThreadHash started = 0;
    pushPendingStart(pending, 8, 81);
    for (ThreadHash i = 1; i < PENDING_START_COUNT; ++i) pushPendingStart(pending, 7, 700 + i);
    for (int round = 0; round < 3 * PENDING_START_COUNT; ++round) {
        ASSERT_TRUE(popPendingStart(pending, 7, &started));
        pushPendingStart(pending, 7, 799);
    }
    EXPECT_EQ(popAll(pending, 8), (std::vector<ThreadHash>{81}));
}

TEST(PendingStarts, ForgettingACallerDropsAllItsHandOversOnly) {
    PendingStarts pending{};
    pushPendingStart(pending, 7, 71);
    pushPendingStart(pending, 8, 81);
    pushPendingStart(pending, 7, 72);
    forgetPendingStartsOf(pending, 7);
    EXPECT_EQ(popAll(pending, 7), std::vector<ThreadHash>{});
    EXPECT_EQ(popAll(pending, 8), (std::vector<ThreadHash>{81}));
    forgetPendingStartsOf(pending, 0);   // no caller: nothing to forget, nothing breaks
    pushPendingStart(pending, 7, 73);
    EXPECT_EQ(popAll(pending, 7), (std::vector<ThreadHash>{73}));
}

}  // namespace
