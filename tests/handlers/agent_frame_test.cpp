// The agent lock, the fatal reports, the method event switch and the thread handlers.
#include "agent/event_switch.h"
#include "agent/fatal_report.h"
#include "handler_scene.h"
#include "store/thread_starts.h"

using namespace fake;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class AgentFrameTest : public HandlerTest {};

// Every handler, on each of its roads, enters the lock first and exits it last, once.
TEST_F(AgentFrameTest, EveryHandlerHoldsTheLockForItsWholeBody) {
    ObjectId a = fk.newThread("A");
    ObjectId b = fk.newThread("B");
    ObjectId w = fk.newThread("W");
    ObjectId lock = fk.newObject("lock");
    fk.setOwner(lock, a);
    fk.setNotifyWaiters(lock, {w});
    giveUid(a, 7);
    const std::vector<std::pair<const char*, std::function<bool()>>> deliveries = {
        {"thread start", [&] { return fk.threadStart(b); }},
        {"ordinary entry", [&] { return fk.methodEntry(a, run); }},
        {"afterAdvice entry", [&] { return fk.methodEntry(a, afterAdvice, Frame().withInt(1, 0)); }},
        {"notify entry", [&] { return fk.methodEntry(a, notify); }},
        {"Thread.start entry", [&] { return fk.methodEntry(a, threadStartMethod, Frame().withObject(0, b)); }},
        {"ordinary exit", [&] { return fk.methodExit(a, run); }},
        {"notify exit", [&] { fk.setNotifyWaiters(lock, {}); return fk.methodExit(a, notify); }},
        {"Thread.start exit", [&] { fk.threadStart(b); fk.clearCalls(); return fk.methodExit(a, threadStartMethod); }},
        {"thread end", [&] { return fk.threadEnd(w); }},
    };
    for (const auto& delivery : deliveries) {
        SCOPED_TRACE(delivery.first);
        fk.clearCalls();
        ASSERT_TRUE(delivery.second());
        std::vector<std::string> calls = fk.calls();
        EXPECT_EQ(calls.front(), "RawMonitorEnter(Vesk)");
        EXPECT_EQ(calls.back(), "RawMonitorExit(Vesk)");
        EXPECT_EQ(fk.callsOf("RawMonitorEnter").size(), 1u);
        EXPECT_EQ(fk.callsOf("RawMonitorExit").size(), 1u);
    }
    EXPECT_FALSE(fk.rawMonitorHeld());
}

struct Report {
    std::function<void()> report;
    const char* line;
};

class FatalReportDeathTest : public FakeJvmTest, public ::testing::WithParamInterface<std::tuple<int, FatalSink>> {};

TEST_P(FatalReportDeathTest, PrintsOneLineAndExitsWith255) {
    static const Report reports[] = {
        {[] { abortOnToolError("GetMethodName", JVMTI_ERROR_INVALID_METHODID); },
         "[Vesk] ERROR: can't GetMethodName, error code:23\n"},
        {[] { abortOnToolError("insertThrContext", -1); }, "[Vesk] ERROR: can't insertThrContext, error code:-1\n"},
        {[] { abortOnNoMemory(); }, "[Vesk] FATAL ERROR: can't alloc mem!"},
    };
    const Report& r = reports[std::get<0>(GetParam())];
    expectFatal(r.report, r.line, std::get<1>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(ToFileAndPipe, FatalReportDeathTest,
                         ::testing::Combine(::testing::Values(0, 1, 2),
                                            ::testing::Values(FatalSink::File, FatalSink::Pipe)));

struct SwitchCase {
    bool on;
    int failing;   // which of the two calls fails; 0: none
};

class SwitchMethodEventsTest : public AgentFrameTest, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(SwitchMethodEventsTest, EntryThenExitAndTheSecondWhateverTheFirst) {
    const SwitchCase& c = GetParam();
    if (c.on) switchMethodEvents(false);
    fk.clearCalls();
    if (c.failing != 0) fk.failCall("SetEventNotificationMode", JVMTI_ERROR_INTERNAL, c.failing);
    const std::string mode = c.on ? "ENABLE" : "DISABLE";
    ::testing::internal::CaptureStdout();
    lockAgent();
    switchMethodEvents(c.on);
    unlockAgent();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_THAT(fk.calls(), ElementsAre("RawMonitorEnter(Vesk)", "SetEventNotificationMode(" + mode + ",MethodEntry)",
                                        "SetEventNotificationMode(" + mode + ",MethodExit)", "RawMonitorExit(Vesk)"));
    EXPECT_EQ(fk.isEnabled(JVMTI_EVENT_METHOD_ENTRY), c.failing == 1 ? !c.on : c.on);
    EXPECT_EQ(fk.isEnabled(JVMTI_EVENT_METHOD_EXIT), c.failing == 2 ? !c.on : c.on);
}

INSTANTIATE_TEST_SUITE_P(OnOff, SwitchMethodEventsTest,
                         ::testing::Values(SwitchCase{true, 0}, SwitchCase{true, 1}, SwitchCase{true, 2},
                                           SwitchCase{false, 0}, SwitchCase{false, 1}, SwitchCase{false, 2}));

TEST_F(AgentFrameTest, ThreadStartSwitchesMethodEventsOnAndNotesTheThread) {
    ObjectId t = fk.newThread("T", NO_OBJECT, 4242);
    lockAgent();
    switchMethodEvents(false);
    unlockAgent();
    EXPECT_FALSE(fk.methodEntry(mainThread, run));
    for (int round = 0; round < 2; ++round) {   // already on: the same calls again
        fk.clearCalls();
        ASSERT_TRUE(fk.threadStart(t));
        EXPECT_THAT(fk.calls(), ElementsAre("RawMonitorEnter(Vesk)", "SetEventNotificationMode(ENABLE,MethodEntry)",
                                            "SetEventNotificationMode(ENABLE,MethodExit)", "GetObjectHashCode(T)",
                                            "RawMonitorExit(Vesk)"));
        EXPECT_TRUE(methodEventsOn());
    }
    EXPECT_TRUE(wasStartedRecently(agentState.recentStarts, 4242));
    EXPECT_TRUE(fk.methodEntry(mainThread, run));
}

TEST_F(AgentFrameTest, ThreadEndTakesTheThreadOutAndGivesBackItsSnapshots) {
    ObjectId a = fk.newThread("A");
    ObjectId b = fk.newThread("B");
    ObjectId w = fk.newThread("W");
    ObjectId lock = fk.newObject("lock");
    giveUid(a, 7);
    startThread(a, b);
    fk.threadStart(b);
    fk.setOwner(lock, a);
    fk.setNotifyWaiters(lock, {w});
    ASSERT_TRUE(fk.methodEntry(a, notify));
    ASSERT_EQ(queueLength(), 1);
    ASSERT_TRUE(fk.methodEntry(a, threadStartMethod, Frame().withObject(0, fk.newThread("C"))));

    fk.clearCalls();
    ASSERT_TRUE(fk.threadEnd(a));
    EXPECT_EQ(uidOf(a), 0);
    EXPECT_EQ(uidOf(b), 7) << "the group keeps its other members";
    EXPECT_EQ(queueLength(), 0);
    EXPECT_THAT(fk.calls(), ElementsAre("RawMonitorEnter(Vesk)", "GetObjectHashCode(A)", "DeleteGlobalRef(W)",
                                        "Deallocate(waiters:lock)", "Deallocate(notify_waiters:lock)",
                                        "DeleteGlobalRef(lock)", "RawMonitorExit(Vesk)"));
    ThreadHash started = 0;
    EXPECT_FALSE(popPendingStart(agentState.pendingStarts, fk.hashOf(a), &started));
    expectClean();
}

}  // namespace
