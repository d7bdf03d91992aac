// A handler already on its way when the VM enters its dead phase finds the VM answering
// WRONG_PHASE. It stops quietly: a clean shutdown must not end with the agent's error line.
#include "handler_scene.h"

using namespace fake;
using ::testing::ElementsAre;

namespace {

struct LateEvent {
    const char* label;
    const char* firstCall;   // the handler's first call after taking the lock
    bool (*deliver)(FakeJvm&, ObjectId thread, jmethodID method);
};

class ShutdownTest : public HandlerTest, public ::testing::WithParamInterface<LateEvent> {
protected:
    ObjectId a = fk.newThread("A");
};

TEST_P(ShutdownTest, AHandlerThatMeetsTheDeadPhaseStopsQuietly) {
    giveUid(a, 7);
    fk.clearCalls();
    fk.failCall(GetParam().firstCall, JVMTI_ERROR_WRONG_PHASE);
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(GetParam().deliver(fk, a, notify));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    std::vector<std::string> calls = fk.calls();
    // Whatever the handler did before its first call (a thread start's switch), it did
    // nothing after it but give the lock back.
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls.front(), "RawMonitorEnter(Vesk)");
    EXPECT_EQ(calls.back(), "RawMonitorExit(Vesk)");
    EXPECT_EQ(calls[calls.size() - 2].rfind(GetParam().firstCall, 0), 0u) << calls[calls.size() - 2];
    EXPECT_EQ(uidOf(a), 7);
    EXPECT_EQ(queueLength(), 0);
    expectClean();
}

INSTANTIATE_TEST_SUITE_P(
    Handlers, ShutdownTest,
    ::testing::Values(
        LateEvent{"MethodEntry", "GetMethodName",
                  [](FakeJvm& f, ObjectId thread, jmethodID m) { return f.methodEntry(thread, m); }},
        LateEvent{"MethodExit", "GetMethodName",
                  [](FakeJvm& f, ObjectId thread, jmethodID m) { return f.methodExit(thread, m); }},
        LateEvent{"ThreadStart", "GetObjectHashCode",
                  [](FakeJvm& f, ObjectId thread, jmethodID) { return f.threadStart(thread); }},
        LateEvent{"ThreadEnd", "GetObjectHashCode",
                  [](FakeJvm& f, ObjectId thread, jmethodID) { return f.threadEnd(thread); }}),
    [](const auto& p) { return std::string(p.param.label); });

// Only the first call may meet the dead phase quietly; later in a handler it is a failure
// like any other.
TEST_F(HandlerTest, TheDeadPhaseLaterInAHandlerIsStillFatal) {
    ObjectId a = fk.newThread("A");
    expectFatal([&] {
        fk.failCall("GetObjectHashCode", JVMTI_ERROR_WRONG_PHASE);
        fk.methodEntry(a, run);
    }, "[Vesk] ERROR: can't GetObjectHashCode, error code:112\n");
}

}  // namespace
