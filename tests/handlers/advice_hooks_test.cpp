// beforeAdvice hands a uid in through slot 1; afterAdvice has the thread's uid written there.
#include "handler_scene.h"

using namespace fake;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class AdviceHooksTest : public HandlerTest {
protected:
    ObjectId a = fk.newThread("A");
    ObjectId b = fk.newThread("B");
};

TEST_F(AdviceHooksTest, BeforeAdviceRegistersAndAfterAdviceWritesTheUid) {
    giveUid(a, 7);
    EXPECT_EQ(uidOf(a), 7);
    EXPECT_THAT(fk.callsOf("GetLocalInt"), ElementsAre("GetLocalInt(A,0,1)"));
    EXPECT_EQ(seenByAfterAdvice(a), 7);
    EXPECT_THAT(fk.callsOf("SetLocalInt"), ElementsAre("SetLocalInt(A,0,1,7)"));
    expectClean();
}

TEST_F(AdviceHooksTest, AThreadWithoutAUidReadsZero) {
    EXPECT_EQ(seenByAfterAdvice(a), 0);
    EXPECT_THAT(fk.callsOf("SetLocalInt"), ElementsAre("SetLocalInt(A,0,1,0)"));
    giveUid(b, 0);
    EXPECT_EQ(seenByAfterAdvice(b), 0);
}

TEST_F(AdviceHooksTest, ANewUidReplacesTheOldOneButNotTheChildrensAndTheLaterThreadWins) {
    ObjectId child = fk.newThread("child");
    giveUid(a, 7);
    startThread(a, child);
    fk.threadStart(child);
    giveUid(a, 8);
    EXPECT_EQ(seenByAfterAdvice(a), 8);
    EXPECT_EQ(seenByAfterAdvice(child), 7);
    giveUid(b, 8);
    EXPECT_EQ(seenByAfterAdvice(b), 8);
    EXPECT_EQ(seenByAfterAdvice(a), 0);
}

TEST_F(AdviceHooksTest, OnlyTheWholeExactNameCounts) {
    giveUid(a, 7);
    fk.clearCalls();
    for (const char* name : {"BeforeAdvice", "beforeAdvice2", "before", "beforeadvice", "AfterAdvice", "afterAdvice_",
                             "after", "afteradvice", "advice"}) {
        SCOPED_TRACE(name);
        jmethodID look = fk.newMethod(name, fk.objectClass(), std::nullopt, "(I)V");
        ASSERT_TRUE(fk.methodEntry(b, look, Frame().withInt(1, 9)));
        EXPECT_EQ(fk.localInt(b, 1), 9);
    }
    EXPECT_THAT(fk.callsOf("GetLocalInt"), IsEmpty());
    EXPECT_THAT(fk.callsOf("SetLocalInt"), IsEmpty());
    EXPECT_EQ(uidOf(b), 0);
    EXPECT_EQ(uidOf(a), 7);
}

struct RefusedSlot {
    bool before;
    Frame frame;
    const char* line;
};

// A misdeclared advice method: the answers a Thread start takes for "no thread in slot 0"
// end the process here. An absent slot is among the fatal paths in handler_fatal_test.
class AdviceSlotDeathTest : public AdviceHooksTest, public ::testing::WithParamInterface<RefusedSlot> {};

TEST_P(AdviceSlotDeathTest, ARefusedReadOrWriteIsFatal) {
    const RefusedSlot& c = GetParam();
    expectFatal([&] { fk.methodEntry(a, c.before ? beforeAdvice : afterAdvice, c.frame); }, c.line);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, AdviceSlotDeathTest,
    ::testing::Values(
        RefusedSlot{true, Frame().withObject(1, NO_OBJECT), "[Vesk] ERROR: can't GetLocalObjectUid, error code:34\n"},
        RefusedSlot{true, Frame().withInt(1, 7).opaque(), "[Vesk] ERROR: can't GetLocalObjectUid, error code:32\n"},
        RefusedSlot{false, Frame().withObject(1, NO_OBJECT), "[Vesk] ERROR: can't SetLocalObjectUid, error code:34\n"},
        RefusedSlot{false, Frame().withInt(1, 7).opaque(), "[Vesk] ERROR: can't SetLocalObjectUid, error code:32\n"}));

}  // namespace
