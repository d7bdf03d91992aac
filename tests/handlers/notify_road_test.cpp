// The notify road: a thread with a uid snapshots its monitors at the entry of notify or
// notifyAll and, at the exit, hands its uid to the threads that stopped waiting.
#include "handler_scene.h"

using namespace fake;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

class NotifyRoadTest : public HandlerTest {
protected:
    ObjectId a = fk.newThread("A");
    ObjectId w1 = fk.newThread("W1");
    ObjectId w2 = fk.newThread("W2");
    ObjectId w3 = fk.newThread("W3");
    ObjectId lock = fk.newObject("lock");
    void SetUp() override {
        HandlerTest::SetUp();
        giveUid(a, 7);
        fk.setOwner(lock, a);
        fk.clearCalls();
    }
    std::vector<ThreadHash> handedTo() const {
        std::vector<ThreadHash> hashes;
        for (const ThrContext* r = agentState.contextHistory.head; r != nullptr; r = r->next) hashes.push_back(r->toHash);
        return hashes;
    }
};

TEST_F(NotifyRoadTest, EntryQueuesOneSnapshotPerOwnedMonitorWithGlobalReferences) {
    ObjectId lock2 = fk.newObject("lock2");
    fk.setOwner(lock2, a);
    fk.setNotifyWaiters(lock, {w1, w2});
    fk.setNotifyWaiters(lock2, {w3});
    ASSERT_TRUE(fk.methodEntry(a, notify));
    EXPECT_TRUE(methodEventsOn()) << "the entry leaves method events as they are";
    ASSERT_EQ(queueLength(), 2);
    const ThrInfo* first = agentState.snapshotQueue.head;
    EXPECT_EQ(first->threadHash, fk.hashOf(a));
    EXPECT_EQ(fk.describe(first->monitor), "global lock");
    EXPECT_EQ(fk.describe(first->next->monitor), "global lock2");
    ASSERT_EQ(first->snapshot->notify_waiter_count, 2);
    EXPECT_EQ(fk.describe(first->snapshot->notify_waiters[0]), "global W1");
    EXPECT_EQ(fk.describe(first->snapshot->notify_waiters[1]), "global W2");
    EXPECT_THAT(fk.callsOf("SetEventNotificationMode"), IsEmpty());
    expectClean();
}

TEST_F(NotifyRoadTest, AThreadWithoutAUidTakesNoSnapshotAndSwitchesNothing) {
    ObjectId b = fk.newThread("B");
    fk.setOwner(lock, b);
    fk.setNotifyWaiters(lock, {w1});
    ASSERT_TRUE(fk.methodEntry(b, notify));
    fk.setNotifyWaiters(lock, {});
    ASSERT_TRUE(fk.methodExit(b, notify));
    EXPECT_THAT(fk.callsOf("GetOwnedMonitorInfo"), IsEmpty());
    EXPECT_EQ(queueLength(), 0);
    EXPECT_EQ(uidOf(w1), 0);
    EXPECT_TRUE(methodEventsOn());
}

TEST_F(NotifyRoadTest, TheWokenThreadCarriesTheUidThenMethodEventsGoOff) {
    fk.setNotifyWaiters(lock, {w1, w2});
    ASSERT_TRUE(fk.methodEntry(a, notify));
    fk.setNotifyWaiters(lock, {w2});
    fk.clearCalls();
    ASSERT_TRUE(fk.methodExit(a, notify));
    EXPECT_EQ(uidOf(w1), 7);
    EXPECT_EQ(uidOf(w2), 0);
    EXPECT_THAT(handedTo(), ElementsAre(fk.hashOf(w1)));
    EXPECT_STREQ(agentState.contextHistory.tail->methodName, "notify");
    std::vector<std::string> calls = fk.calls();
    auto woken = std::find(calls.begin(), calls.end(), "GetObjectHashCode(W1)");
    auto off = std::find(calls.begin(), calls.end(), "SetEventNotificationMode(DISABLE,MethodEntry)");
    EXPECT_LT(woken, off) << "the switch-off comes after the hand-overs";
    EXPECT_TRUE(methodEventsOff());
    EXPECT_EQ(queueLength(), 0);
    expectClean();
}

// The exit switches method events off whatever it found.
TEST_F(NotifyRoadTest, EveryExitOfAThreadWithAUidSwitchesOff) {
    for (jmethodID method : {notify, notifyAll}) {
        fk.threadStart(fk.newThread("T"));
        ASSERT_TRUE(fk.methodExit(a, method));   // no snapshot: its entry was never seen
        EXPECT_TRUE(methodEventsOff());
        EXPECT_THAT(fk.callsOf("GetObjectMonitorUsage"), IsEmpty());
    }
    fk.threadStart(fk.newThread("T"));
    fk.setOwner(lock, NO_OBJECT);
    ASSERT_TRUE(fk.methodEntry(a, notifyAll));   // owns nothing
    EXPECT_EQ(queueLength(), 0);
    ASSERT_TRUE(fk.methodExit(a, notifyAll, std::nullopt, true));   // ended by an exception
    EXPECT_TRUE(methodEventsOff());
    expectClean();
}

struct WakingCase {
    const char* label;
    bool all;                  // notifyAll rather than notify
    std::vector<int> before;   // indexes into {W1, W2, W3, X1, X2}
    std::vector<int> after;
    std::vector<int> woken;
};

class WakingRuleTest : public NotifyRoadTest, public ::testing::WithParamInterface<WakingCase> {};

TEST_P(WakingRuleTest, WokenMeansMissingAfterwards) {
    const ObjectId cast[] = {w1, w2, w3, fk.newThread("X1"), fk.newThread("X2")};
    auto threads = [&](const std::vector<int>& indexes) {
        std::vector<ObjectId> ids;
        for (int i : indexes) ids.push_back(cast[i]);
        return ids;
    };
    fk.setNotifyWaiters(lock, threads(GetParam().before));
    ASSERT_TRUE(fk.methodEntry(a, GetParam().all ? notifyAll : notify));
    fk.setNotifyWaiters(lock, threads(GetParam().after));
    ASSERT_TRUE(fk.methodExit(a, GetParam().all ? notifyAll : notify));
    std::vector<ThreadHash> expected;
    for (ObjectId id : threads(GetParam().woken)) expected.push_back(fk.hashOf(id));
    EXPECT_THAT(handedTo(), ElementsAreArray(expected));
    for (ObjectId id : cast) {
        bool isWoken = std::find(expected.begin(), expected.end(), fk.hashOf(id)) != expected.end();
        EXPECT_EQ(uidOf(id), isWoken ? 7 : 0);
    }
    expectClean();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WakingRuleTest,
    ::testing::Values(WakingCase{"AllOfThreeWokenInOrder", true, {0, 1, 2}, {}, {0, 1, 2}},
                      WakingCase{"TheMiddleOneStillWaits", false, {0, 1, 2}, {1}, {0, 2}},
                      WakingCase{"SameCountOtherThreads", true, {0, 1}, {3, 4}, {0, 1}},
                      WakingCase{"Jdk17ListsTheRemainingWaiterTwice", false, {0, 1}, {1, 1}, {0}},
                      WakingCase{"NobodyBeforeSomeAfter", false, {}, {3}, {}},
                      WakingCase{"NobodyWoken", false, {0, 1}, {1, 0}, {}}),
    [](const auto& p) { return std::string(p.param.label); });

TEST_F(NotifyRoadTest, EachMonitorMeetsItsOwnSnapshot) {
    ObjectId lock2 = fk.newObject("lock2");
    fk.setOwner(lock2, a);
    fk.setNotifyWaiters(lock, {w1});
    fk.setNotifyWaiters(lock2, {w2});
    ASSERT_TRUE(fk.methodEntry(a, notify));
    // The exit lists the monitors the other way round; W1 left lock, W2 still waits on lock2.
    fk.setOwner(lock, NO_OBJECT);
    fk.setOwner(lock, a);
    fk.setNotifyWaiters(lock, {});
    ASSERT_TRUE(fk.methodExit(a, notify));
    EXPECT_EQ(uidOf(w1), 7);
    EXPECT_EQ(uidOf(w2), 0);
    EXPECT_EQ(queueLength(), 0);
    expectClean();
}

TEST_F(NotifyRoadTest, AnotherThreadsSnapshotIsNotUsed) {
    ObjectId b = fk.newThread("B");
    giveUid(b, 8);
    fk.setNotifyWaiters(lock, {w1});
    ASSERT_TRUE(fk.methodEntry(a, notify));   // A's exit is never seen
    fk.setOwner(lock, b);
    fk.setNotifyWaiters(lock, {});
    fk.clearCalls();
    ASSERT_TRUE(fk.methodExit(b, notify));
    EXPECT_EQ(uidOf(w1), 0) << "B never saw W1 wait";
    EXPECT_THAT(fk.callsOf("GetObjectMonitorUsage"), IsEmpty());
    EXPECT_EQ(queueLength(), 1) << "A's snapshot stays A's";
    expectClean();
}

TEST_F(NotifyRoadTest, ANewEntryReplacesTheSnapshotsOfAnUnseenExit) {
    fk.setNotifyWaiters(lock, {w1});
    ASSERT_TRUE(fk.methodEntry(a, notify));
    fk.setNotifyWaiters(lock, {w2});
    ASSERT_TRUE(fk.methodEntry(a, notify));
    ASSERT_EQ(queueLength(), 1);
    fk.setNotifyWaiters(lock, {});
    ASSERT_TRUE(fk.methodExit(a, notify));
    EXPECT_EQ(uidOf(w1), 0) << "compared with the stale snapshot, W1 would count as woken";
    EXPECT_EQ(uidOf(w2), 7);
    expectClean();
}

TEST_F(NotifyRoadTest, OnlyTheExactNamesTakeTheNotifyRoad) {
    fk.setNotifyWaiters(lock, {w1});
    for (const char* name : {"Notify", "notifyall", "notifyAll2", "notif", "NotifyAll"}) {
        jmethodID method = fk.newMethod(name, fk.objectClass());
        ASSERT_TRUE(fk.methodEntry(a, method));
        ASSERT_TRUE(fk.methodExit(a, method));
    }
    EXPECT_THAT(fk.callsOf("GetOwnedMonitorInfo"), IsEmpty());
    EXPECT_TRUE(methodEventsOn());
    // A method named notify of any class counts.
    jmethodID own = fk.newMethod("notify", fk.newClass("app/Bell", NO_OBJECT));
    ASSERT_TRUE(fk.methodEntry(a, own));
    EXPECT_EQ(queueLength(), 1);
}

}  // namespace
