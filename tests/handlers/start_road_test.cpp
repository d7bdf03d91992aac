// The start road: a thread that starts another hands it its uid at the entry of
// Thread.start; the exit decides whether method events go off.
#include "handler_scene.h"

using namespace fake;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;

namespace {

class StartRoadTest : public HandlerTest {
protected:
    ObjectId a = fk.newThread("A");
    ObjectId b = fk.newThread("B");
    void SetUp() override {
        HandlerTest::SetUp();
        giveUid(a, 7);
        fk.clearCalls();
    }
};

TEST_F(StartRoadTest, HandsOverAtTheEntryBeforeTheChildRuns) {
    ASSERT_TRUE(fk.methodEntry(a, threadStartMethod, Frame().withObject(0, b)));
    EXPECT_EQ(uidOf(b), 7);
    EXPECT_TRUE(methodEventsOn());
    ASSERT_NE(agentState.contextHistory.tail, nullptr);
    const ThrContext& record = *agentState.contextHistory.tail;
    EXPECT_EQ(record.fromHash, fk.hashOf(a));
    EXPECT_EQ(record.toHash, fk.hashOf(b));
    EXPECT_STREQ(record.methodName, "start");
    EXPECT_EQ(fk.describe(record.methodName), "name:start") << "the record keeps the entry's own name string";
    EXPECT_THAT(fk.callsOf("GetLocalObject"), ElementsAre("GetLocalObject(A,0,0)"));
    EXPECT_THAT(fk.callsOf("DeleteLocalRef"), ::testing::Contains("DeleteLocalRef(B)"));
    // The child may reach afterAdvice before its parent returns from start().
    ASSERT_TRUE(fk.threadStart(b));
    EXPECT_EQ(seenByAfterAdvice(b), 7);
    ASSERT_TRUE(fk.methodExit(a, threadStartMethod));
    expectClean();
}

struct ExitCase {
    const char* label;
    bool childStartedFirst;
    bool byException;
    bool eventsOnAfter;
};

class StartExitTest : public StartRoadTest, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(StartExitTest, SwitchesOffUnlessTheChildAlreadyRuns) {
    const ExitCase& c = GetParam();
    ASSERT_TRUE(fk.methodEntry(a, threadStartMethod, Frame().withObject(0, b)));
    if (c.childStartedFirst) {
        ASSERT_TRUE(fk.threadStart(b));
    }
    fk.clearCalls();
    ASSERT_TRUE(fk.methodExit(a, threadStartMethod, std::nullopt, c.byException));
    EXPECT_EQ(methodEventsOn(), c.eventsOnAfter);
    EXPECT_EQ(methodEventsOff(), !c.eventsOnAfter);
    EXPECT_THAT(fk.callsOf("GetLocalObject"), IsEmpty()) << "the exit reads no slot";
    EXPECT_EQ(historyLength(), 1);
    EXPECT_EQ(uidOf(b), 7);
    expectClean();
}

INSTANTIATE_TEST_SUITE_P(Cases, StartExitTest,
                         ::testing::Values(ExitCase{"ChildNotYetStarted", false, false, false},
                                           ExitCase{"ChildAlreadyStarted", true, false, true},
                                           ExitCase{"EndedByAnException", false, true, false},
                                           ExitCase{"ChildStartedEndedByAnException", true, true, true}),
                         [](const auto& p) { return std::string(p.param.label); });

TEST_F(StartRoadTest, AnExitWhoseEntryHandedNothingOverSwitchesNothing) {
    ASSERT_TRUE(fk.methodExit(a, threadStartMethod));
    EXPECT_TRUE(methodEventsOn());
    EXPECT_THAT(fk.callsOf("SetEventNotificationMode"), IsEmpty());
    EXPECT_EQ(historyLength(), 0);
}

TEST_F(StartRoadTest, NestedStartsHandOverAtEachEntryAndDecideAtEachExit) {
    jmethodID startInContainer = fk.newMethod("start", fk.threadClass(), std::nullopt, "(Ljdk/internal/vm/ThreadContainer;)V");
    ObjectId c = fk.newThread("C");
    ASSERT_TRUE(fk.methodEntry(a, threadStartMethod, Frame().withObject(0, b)));
    ASSERT_TRUE(fk.methodEntry(a, startInContainer, Frame().withObject(0, b)));
    ASSERT_TRUE(fk.threadStart(b));
    ASSERT_TRUE(fk.methodExit(a, startInContainer));
    EXPECT_TRUE(methodEventsOn());
    ASSERT_TRUE(fk.methodExit(a, threadStartMethod));
    EXPECT_TRUE(methodEventsOn());
    EXPECT_EQ(historyLength(), 2);
    // The next start by the same caller is decided on its own child, not on B.
    ASSERT_TRUE(fk.methodEntry(a, threadStartMethod, Frame().withObject(0, c)));
    ASSERT_TRUE(fk.methodEntry(a, startInContainer, Frame().withObject(0, c)));
    ASSERT_TRUE(fk.methodExit(a, startInContainer));
    EXPECT_TRUE(methodEventsOff());
    EXPECT_FALSE(fk.methodExit(a, threadStartMethod)) << "no method event after the switch-off";
    ASSERT_TRUE(fk.threadStart(c));
    EXPECT_EQ(seenByAfterAdvice(c), 7);
    expectClean();
}

TEST_F(StartRoadTest, ChildrenAndGrandchildrenCarryTheUidAndAParentWithoutOneClearsIt) {
    ObjectId grandchild = fk.newThread("G");
    ObjectId stranger = fk.newThread("S");
    ObjectId orphan = fk.newThread("O");
    startThread(a, b);
    fk.threadStart(b);
    startThread(b, grandchild);
    fk.threadStart(grandchild);
    EXPECT_EQ(seenByAfterAdvice(grandchild), 7);
    giveUid(orphan, 9);
    startThread(stranger, orphan);   // orphan has not run yet: the stranger's lack of a uid goes over
    fk.threadStart(orphan);
    EXPECT_EQ(seenByAfterAdvice(orphan), 0);
    EXPECT_EQ(historyLength(), 3);
    expectClean();
}

// Starting a thread that runs, or has ended, throws in Java and starts nothing: the thread
// keeps its context, and an ended one is not put back into the table, where no end would
// ever come to take it out again.
TEST_F(StartRoadTest, AStartOfAThreadThatHasRunHandsNothingOver) {
    ObjectId stranger = fk.newThread("S");
    ObjectId ended = fk.newThread("E");
    startThread(a, b);
    fk.threadStart(b);
    fk.threadStart(ended);
    fk.threadEnd(ended);
    for (ObjectId restarted : {b, ended}) {
        SCOPED_TRACE(restarted == b ? "a running thread" : "an ended thread");
        ASSERT_TRUE(fk.methodEntry(stranger, threadStartMethod, Frame().withObject(0, restarted)));
        ASSERT_TRUE(fk.methodExit(stranger, threadStartMethod, std::nullopt, true));
    }
    EXPECT_EQ(uidOf(b), 7);
    EXPECT_EQ(uidOf(ended), 0);
    EXPECT_EQ(historyLength(), 1);
    EXPECT_TRUE(methodEventsOn());
    giveUid(a, 8);
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(fk.methodEntry(a, threadStartMethod, Frame().withObject(0, ended)));
        ASSERT_TRUE(fk.methodExit(a, threadStartMethod, std::nullopt, true));
    }
    EXPECT_EQ(uidOf(ended), 0);
    expectClean();
}

// Virtual threads report neither start nor end; handed a context they would hold a slot
// for good, so from JDK 21 on (where their base class exists) they carry nothing.
TEST_F(StartRoadTest, AVirtualThreadIsHandedNothing) {
    ObjectId baseVirtual = fk.newClass("java/lang/BaseVirtualThread", fk.threadClass());
    ObjectId virtualClass = fk.newClass("java/lang/VirtualThread", baseVirtual);
    jmethodID virtualStart = fk.newMethod("start", virtualClass, std::nullopt, "(Ljdk/internal/vm/ThreadContainer;)V");
    ObjectId fiber = fk.newThread("V", virtualClass);
    ASSERT_TRUE(fk.methodEntry(a, virtualStart, Frame().withObject(0, fiber)));
    ASSERT_TRUE(fk.methodExit(a, virtualStart));
    EXPECT_EQ(uidOf(fiber), 0);
    EXPECT_EQ(historyLength(), 0);
    EXPECT_TRUE(methodEventsOn());
    startThread(a, b);   // a platform thread still carries it
    EXPECT_EQ(uidOf(b), 7);
    EXPECT_THAT(fk.callsOf("FindClass"),
                ElementsAre("FindClass(java/lang/Thread)", "FindClass(java/lang/BaseVirtualThread)"));
    expectClean();
}

// Methods named start of other classes: Matcher.start() and friends must not count.
TEST_F(StartRoadTest, AStartOfAnotherClassIsNoThreadStart) {
    ObjectId matcherClass = fk.newClass("java/util/regex/Matcher", NO_OBJECT);
    ObjectId builderClass = fk.newClass("java/lang/ProcessBuilder", NO_OBJECT);
    for (ObjectId cls : {matcherClass, builderClass}) {
        jmethodID start = fk.newMethod("start", cls, std::nullopt, "()I");
        ObjectId receiver = fk.newObject("receiver", cls);
        ASSERT_TRUE(fk.methodEntry(a, start, Frame().withObject(0, receiver)));
        ASSERT_TRUE(fk.methodExit(a, start, Frame().withObject(0, receiver)));
        EXPECT_EQ(uidOf(receiver), 0);
    }
    EXPECT_THAT(fk.callsOf("GetLocalObject"), IsEmpty());
    EXPECT_THAT(fk.callsOf("SetEventNotificationMode"), IsEmpty());
    EXPECT_EQ(historyLength(), 0);
    EXPECT_TRUE(methodEventsOn());
    // ... so the next real thread start still carries the context.
    startThread(a, b);
    fk.threadStart(b);
    EXPECT_EQ(seenByAfterAdvice(b), 7);
    // Looked up once; the virtual threads' base class is absent here, as on JDK 17, and the
    // exception its lookup raised was cleared (the fake checks that none is left pending).
    EXPECT_THAT(fk.callsOf("FindClass"),
                ElementsAre("FindClass(java/lang/Thread)", "FindClass(java/lang/BaseVirtualThread)"));
    EXPECT_THAT(fk.callsOf("ExceptionClear"), SizeIs(1));
    expectClean();
}

TEST_F(StartRoadTest, AThreadSubclassStartIsAThreadStart) {
    ObjectId workerClass = fk.newClass("app/Worker", fk.threadClass());
    jmethodID start = fk.newMethod("start", workerClass);
    ObjectId worker = fk.newThread("worker", workerClass);
    ASSERT_TRUE(fk.methodEntry(a, start, Frame().withObject(0, worker)));
    ASSERT_TRUE(fk.methodExit(a, start));
    EXPECT_EQ(uidOf(worker), 7);
    EXPECT_TRUE(methodEventsOff());
}

struct NoThreadCase {
    const char* label;
    Frame (*frame)(FakeJvm&);
};

class NoThreadInSlotTest : public StartRoadTest, public ::testing::WithParamInterface<NoThreadCase> {};

// A static start(int port), a native start, or a start whose slot 0 holds no thread.
TEST_P(NoThreadInSlotTest, HandsNothingOverAndGoesOnSilently) {
    ObjectId serverClass = fk.newClass("app/Server", fk.threadClass());
    jmethodID start = fk.newMethod("start", serverClass, std::nullopt, "(I)V");
    Frame frame = GetParam().frame(fk);
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(fk.methodEntry(a, start, frame));
    ASSERT_TRUE(fk.methodExit(a, start, frame));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_THAT(fk.callsOf("GetLocalObject"), ElementsAre("GetLocalObject(A,0,0)"));
    EXPECT_EQ(historyLength(), 0);
    EXPECT_THAT(fk.callsOf("SetEventNotificationMode"), IsEmpty());
    EXPECT_TRUE(methodEventsOn());
    expectClean();
}

INSTANTIATE_TEST_SUITE_P(Slots, NoThreadInSlotTest,
                         ::testing::Values(
                             NoThreadCase{"InvalidSlot", [](FakeJvm&) { return Frame(); }},
                             NoThreadCase{"TypeMismatch", [](FakeJvm&) { return Frame().withInt(0, 8080); }},
                             NoThreadCase{"OpaqueFrame", [](FakeJvm&) { return Frame().withInt(0, 8080).opaque(); }},
                             NoThreadCase{"Null", [](FakeJvm&) { return Frame().withObject(0, NO_OBJECT); }},
                             NoThreadCase{"NotAThread",
                                          [](FakeJvm& f) { return Frame().withObject(0, f.newObject("port")); }}),
                         [](const auto& p) { return std::string(p.param.label); });

class StartRoadDeathTest : public StartRoadTest, public ::testing::WithParamInterface<jvmtiError> {};

TEST_P(StartRoadDeathTest, OtherGetLocalObjectErrorsAreFatal) {
    expectFatal([&] {
        fk.failCall("GetLocalObject", GetParam());
        fk.methodEntry(a, threadStartMethod, Frame().withObject(0, b));
    }, "[Vesk] ERROR: can't GetLocalObject, error code:" + std::to_string(GetParam()) + "\n");
}

INSTANTIATE_TEST_SUITE_P(Errors, StartRoadDeathTest,
                         ::testing::Values(JVMTI_ERROR_INVALID_THREAD, JVMTI_ERROR_NO_MORE_FRAMES,
                                           JVMTI_ERROR_ILLEGAL_ARGUMENT, JVMTI_ERROR_THREAD_NOT_SUSPENDED));

}  // namespace
