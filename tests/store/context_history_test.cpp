// The history of hand-overs: append only, in order, keeping the method name given.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "store/context_history.h"

namespace {

// The agent never releases its history; a test does, to stay clean under the leak checker.
void releaseHistory(ContextHistory& history) {
    while (history.head != nullptr) {
        ThrContext* next = history.head->next;
        std::free(history.head);
        history.head = next;
    }
    history.tail = nullptr;
}

TEST(ContextHistory, AppendsInOrderAndKeepsTheNamePointer) {
    ContextHistory history{nullptr, nullptr};
    // One name from one exit shared by several records, as a notifyAll leaves it.
    const char notifyAll[] = "notifyAll";
    const char start[] = "start";
    struct Entry {
        ThreadHash from, to;
        const char* name;
    };
    const std::vector<Entry> entries{{7, 8, start}, {8, 9, notifyAll}, {8, 10, notifyAll}, {8, -11, notifyAll}};
    for (const Entry& e : entries) {
        EXPECT_EQ(insertThrContext(history, e.from, e.to, e.name), 0);
        ASSERT_NE(history.tail, nullptr);
        EXPECT_EQ(history.tail->toHash, e.to) << "the newest record is the tail";
        EXPECT_EQ(history.tail->next, nullptr);
    }
    ThrContext* record = history.head;
    for (const Entry& e : entries) {
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->fromHash, e.from);
        EXPECT_EQ(record->toHash, e.to);
        EXPECT_EQ(record->methodName, e.name) << "the very string handed in, not a copy";
        if (record->next == nullptr) {
            EXPECT_EQ(record, history.tail);
        }
        record = record->next;
    }
    EXPECT_EQ(record, nullptr);
    releaseHistory(history);
}

TEST(ContextHistory, FirstAppendMakesHeadAndTail) {
    ContextHistory history{nullptr, nullptr};
    EXPECT_EQ(insertThrContext(history, 1, 2, "start"), 0);
    ASSERT_NE(history.head, nullptr);
    EXPECT_EQ(history.head, history.tail);
    releaseHistory(history);
}

}  // namespace
