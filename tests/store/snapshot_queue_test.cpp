// The snapshot queue: monitor snapshots from notify entries waiting for the exits.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "store/snapshot_queue.h"

namespace {

// Monitor references for tests: a reference points at the id of the monitor it
// names, so two different references can name one monitor, as JNI references do.
struct Monitors {
    int ids[8] = {0, 1, 2, 3, 0, 1, 2, 3};   // refs 4..7 are second references to monitors 0..3
    jobject ref(int index) { return reinterpret_cast<jobject>(&ids[index]); }
};

bool sameMonitor(void* context, jobject a, jobject b) {
    ++*static_cast<int*>(context);
    return *reinterpret_cast<int*>(a) == *reinterpret_cast<int*>(b);
}

class SnapshotQueueTest : public ::testing::Test {
protected:
    SnapshotQueue queue{nullptr, nullptr};
    MonitorSnapshot snapshots[10] = {};
    Monitors monitors;
    int sameCalls = 0;

    void append(int snapshot, ThreadHash thread, int monitor) {
        EXPECT_EQ(insertThrInfo(queue, &snapshots[snapshot], thread, monitors.ref(monitor)), 0);
    }

    // Which snapshots the queue holds, oldest first, after checking its shape.
    std::vector<int> held() {
        std::vector<int> order;
        EXPECT_EQ(queue.head == nullptr, queue.tail == nullptr) << "head and tail are null together";
        ThrInfo* last = nullptr;
        for (ThrInfo* node = queue.head; node != nullptr; node = node->next) {
            order.push_back(static_cast<int>(node->snapshot - snapshots));
            last = node;
        }
        EXPECT_EQ(queue.tail, last) << "tail is the last node";
        return order;
    }

    // Releases the chain of nodes handed out by a take.
    static std::vector<int> indexesOf(ThrInfo* chain, const MonitorSnapshot* base) {
        std::vector<int> order;
        while (chain != nullptr) {
            ThrInfo* next = chain->next;
            order.push_back(static_cast<int>(chain->snapshot - base));
            std::free(chain);
            chain = next;
        }
        return order;
    }

    void TearDown() override {
        while (queue.head != nullptr) popThrInfo(queue);
    }
};

TEST_F(SnapshotQueueTest, AppendToEmptyQueueMakesHeadAndTail) {
    append(0, 7, 2);
    ASSERT_NE(queue.head, nullptr);
    EXPECT_EQ(queue.head, queue.tail);
    EXPECT_EQ(queue.head->snapshot, &snapshots[0]);
    EXPECT_EQ(queue.head->threadHash, 7);
    EXPECT_EQ(queue.head->monitor, monitors.ref(2));
    EXPECT_EQ(queue.head->next, nullptr);
}

TEST_F(SnapshotQueueTest, PopsInAppendOrderWhileTailStaysTheNewest) {
    append(1, 7, 0);
    append(2, 7, 1);
    append(3, 8, 0);
    popThrInfo(queue);
    EXPECT_EQ(held(), (std::vector<int>{2, 3}));
    append(4, 8, 1);
    EXPECT_EQ(held(), (std::vector<int>{2, 3, 4}));
    for (int expected : {2, 3, 4}) {
        ASSERT_NE(queue.head, nullptr);
        EXPECT_EQ(queue.head->snapshot, &snapshots[expected]);
        popThrInfo(queue);
    }
    EXPECT_EQ(queue.head, nullptr);
    EXPECT_EQ(queue.tail, nullptr);
    // The snapshots live in this fixture, not on the heap: a pop that released
    // one would crash here or under the address sanitizer.
}

TEST_F(SnapshotQueueTest, PoppingTheOnlyNodeEmptiesTheQueueForAFreshStart) {
    append(1, 7, 0);
    popThrInfo(queue);
    EXPECT_EQ(held(), std::vector<int>{});
    append(2, 8, 1);
    append(3, 8, 1);
    EXPECT_EQ(held(), (std::vector<int>{2, 3}));
}

TEST_F(SnapshotQueueTest, PoppingAnEmptyQueueChangesNothing) {
    popThrInfo(queue);
    EXPECT_EQ(queue.head, nullptr);
    EXPECT_EQ(queue.tail, nullptr);
}

// takeThrInfo over a queue of (thread, monitor) nodes, snapshot i in node i.
struct TakeCase {
    const char* name;
    std::vector<std::pair<ThreadHash, int>> nodes;
    ThreadHash thread;
    int monitor;            // index into Monitors; 4..7 name monitors 0..3 through other references
    int taken;              // the node handed out, -1 for none
    std::vector<int> left;
};
void PrintTo(const TakeCase& c, std::ostream* out) { *out << c.name; }

class SnapshotQueueTake : public SnapshotQueueTest, public ::testing::WithParamInterface<TakeCase> {};

TEST_P(SnapshotQueueTake, TakesTheOldestNodeOfThreadAndMonitor) {
    const TakeCase& c = GetParam();
    for (std::size_t i = 0; i < c.nodes.size(); ++i) append(static_cast<int>(i), c.nodes[i].first, c.nodes[i].second);
    ThrInfo* node = takeThrInfo(queue, c.thread, monitors.ref(c.monitor), sameMonitor, &sameCalls);
    if (c.taken < 0) {
        EXPECT_EQ(node, nullptr);
    } else {
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->snapshot, &snapshots[c.taken]);
        EXPECT_EQ(node->next, nullptr) << "the node comes out unlinked";
        std::free(node);
    }
    EXPECT_EQ(held(), c.left);
    append(9, 1, 0);   // the tail still leads to the end
    std::vector<int> after = c.left;
    after.push_back(9);
    EXPECT_EQ(held(), after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SnapshotQueueTake,
    ::testing::Values(TakeCase{"EmptyQueue", {}, 7, 0, -1, {}},
                      TakeCase{"OnlyNode", {{7, 0}}, 7, 0, 0, {}},
                      TakeCase{"Head", {{7, 0}, {8, 0}, {7, 1}}, 7, 0, 0, {1, 2}},
                      TakeCase{"Middle", {{8, 0}, {7, 0}, {7, 1}}, 7, 0, 1, {0, 2}},
                      TakeCase{"TailMovesBack", {{8, 0}, {9, 1}, {7, 0}}, 7, 0, 2, {0, 1}},
                      TakeCase{"OldestOfSeveral", {{7, 1}, {7, 0}, {7, 0}}, 7, 0, 1, {0, 2}},
                      TakeCase{"OtherReferenceToTheSameMonitor", {{7, 2}, {7, 3}}, 7, 7, 1, {0}},
                      TakeCase{"OtherThreadsSnapshotOfTheMonitorIsNotTaken", {{8, 0}, {9, 0}}, 7, 0, -1, {0, 1}},
                      TakeCase{"OtherMonitorOfTheThreadIsNotTaken", {{7, 1}, {7, 2}}, 7, 0, -1, {0, 1}}),
    [](const ::testing::TestParamInfo<TakeCase>& p) { return std::string(p.param.name); });

TEST_F(SnapshotQueueTest, TakePassesItsContextToTheMonitorTest) {
    append(0, 8, 0);
    append(1, 7, 1);
    append(2, 8, 1);
    append(3, 7, 0);
    ThrInfo* node = takeThrInfo(queue, 7, monitors.ref(4), sameMonitor, &sameCalls);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->snapshot, &snapshots[3]);
    EXPECT_GT(sameCalls, 0);
    std::free(node);
}

struct TakeAllCase {
    const char* name;
    std::vector<ThreadHash> nodes;
    ThreadHash thread;
    std::vector<int> taken;
    std::vector<int> left;
};
void PrintTo(const TakeAllCase& c, std::ostream* out) { *out << c.name; }

class SnapshotQueueTakeAll : public SnapshotQueueTest, public ::testing::WithParamInterface<TakeAllCase> {};

TEST_P(SnapshotQueueTakeAll, TakesEveryNodeOfTheThreadInOrder) {
    const TakeAllCase& c = GetParam();
    for (std::size_t i = 0; i < c.nodes.size(); ++i) append(static_cast<int>(i), c.nodes[i], static_cast<int>(i % 4));
    EXPECT_EQ(indexesOf(takeThrInfosOf(queue, c.thread), snapshots), c.taken);
    EXPECT_EQ(held(), c.left);
    append(9, 1, 0);
    std::vector<int> after = c.left;
    after.push_back(9);
    EXPECT_EQ(held(), after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SnapshotQueueTakeAll,
    ::testing::Values(TakeAllCase{"EmptyQueue", {}, 7, {}, {}},
                      TakeAllCase{"NoneOfTheThread", {8, 9}, 7, {}, {0, 1}},
                      TakeAllCase{"AllOfTheThread", {7, 7, 7}, 7, {0, 1, 2}, {}},
                      TakeAllCase{"Interleaved", {7, 8, 7, 9, 7}, 7, {0, 2, 4}, {1, 3}},
                      TakeAllCase{"TailMovesBack", {8, 7, 9, 7, 7}, 7, {1, 3, 4}, {0, 2}},
                      TakeAllCase{"HeadRun", {7, 7, 8}, 7, {0, 1}, {2}}),
    [](const ::testing::TestParamInfo<TakeAllCase>& p) { return std::string(p.param.name); });

}  // namespace
