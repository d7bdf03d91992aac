// Agent_OnLoad and Agent_OnUnload against the fake virtual machine.
#include <cstring>

#include "agent/agent_state.h"
#include "agent/event_switch.h"
#include "handlers/method_entry.h"
#include "handlers/method_exit.h"
#include "tests/fake/fake_jvm.h"

using namespace fake;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const std::string callbacksSize = std::to_string(sizeof(jvmtiEventCallbacks));

class LoadTest : public FakeJvmTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(LoadTest, SetsUpInOrderWhateverTheOptions) {
    agentState.uidTable.records[3].uid = 9;
    agentState.uidTable.records[3].slots[0] = 1234;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(loadAgent(GetParam()), JNI_OK);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_THAT(fk.calls(), ElementsAre("GetEnv(0x30010000)", "AddCapabilities(0x030040A0,0,0,0)",
                                        "SetEventCallbacks(" + callbacksSize + ")", "CreateRawMonitor(Vesk)",
                                        "SetEventNotificationMode(ENABLE,ThreadStart)",
                                        "SetEventNotificationMode(ENABLE,ThreadEnd)"));
    EXPECT_EQ(agentState.jvmti, fk.jvmti());
    EXPECT_EQ(agentState.uidTable.records[3].uid, 0);
    EXPECT_EQ(agentState.uidTable.records[3].slots[0], 0);

    jvmtiEventCallbacks installed = fk.callbacks();
    EXPECT_EQ(installed.ThreadStart, &onThreadStart);
    EXPECT_EQ(installed.ThreadEnd, &onThreadEnd);
    EXPECT_EQ(installed.MethodEntry, &onMethodEntry);
    EXPECT_EQ(installed.MethodExit, &onMethodExit);
    installed.ThreadStart = nullptr;
    installed.ThreadEnd = nullptr;
    installed.MethodEntry = nullptr;
    installed.MethodExit = nullptr;
    const jvmtiEventCallbacks none{};
    EXPECT_EQ(std::memcmp(&installed, &none, sizeof none), 0) << "a callback slot besides the four is set";

    EXPECT_THAT(fk.rawMonitorNames(), ElementsAre("Vesk"));
    EXPECT_TRUE(fk.isEnabled(JVMTI_EVENT_THREAD_START));
    EXPECT_TRUE(fk.isEnabled(JVMTI_EVENT_THREAD_END));
    EXPECT_FALSE(fk.isEnabled(JVMTI_EVENT_METHOD_ENTRY));
    EXPECT_FALSE(fk.isEnabled(JVMTI_EVENT_METHOD_EXIT));

    // Threads that already run produce no method handler call until a thread starts.
    ObjectId main = fk.newThread("main");
    jmethodID run = fk.newMethod("run", fk.threadClass());
    EXPECT_FALSE(fk.methodEntry(main, run));
    EXPECT_TRUE(fk.threadStart(fk.newThread("T")));
    EXPECT_TRUE(fk.methodEntry(main, run));
}

INSTANTIATE_TEST_SUITE_P(Options, LoadTest, ::testing::Values(nullptr, "", "verbose=true,uid=7"));

struct LoadFailure {
    const char* function;
    jint error;   // 0: GetEnv answers JNI_OK with a null environment
    const char* message;
};

class LoadFailureTest : public FakeJvmTest, public ::testing::WithParamInterface<LoadFailure> {};

TEST_P(LoadFailureTest, PrintsItsMessageAndRefusesTheLoad) {
    const LoadFailure& failure = GetParam();
    if (failure.error == 0) fk.getEnvGivesNull();
    else fk.failCall(failure.function, failure.error);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(loadAgent(), JNI_ERR);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), failure.message);
    std::vector<std::string> calls = fk.calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().substr(0, std::strlen(failure.function)), failure.function) << "a later step ran";
    EXPECT_FALSE(fk.isEnabled(JVMTI_EVENT_THREAD_START));
    EXPECT_FALSE(fk.threadStart(fk.newThread("T")));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, LoadFailureTest,
    ::testing::Values(LoadFailure{"GetEnv", JNI_EVERSION, "ERROR: Unable to access JVMTI!"},
                      LoadFailure{"GetEnv", 0, "ERROR: Unable to access JVMTI!"},
                      LoadFailure{"AddCapabilities", JVMTI_ERROR_NOT_AVAILABLE, "ERROR: Can't get JVMTI capabilities"},
                      LoadFailure{"SetEventCallbacks", JVMTI_ERROR_ILLEGAL_ARGUMENT, "ERROR: Can't set jvmti callback!"},
                      LoadFailure{"CreateRawMonitor", JVMTI_ERROR_OUT_OF_MEMORY, "ERROR: Can't create raw monitor!"}));

class LoadEventSwitchTest : public FakeJvmTest, public ::testing::WithParamInterface<int> {};

TEST_P(LoadEventSwitchTest, AFailingEnableIsIgnored) {
    fk.failCall("SetEventNotificationMode", JVMTI_ERROR_INTERNAL, GetParam());
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(loadAgent(), JNI_OK);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_THAT(fk.callsOf("SetEventNotificationMode"),
                ElementsAre("SetEventNotificationMode(ENABLE,ThreadStart)", "SetEventNotificationMode(ENABLE,ThreadEnd)"));
    EXPECT_EQ(fk.isEnabled(JVMTI_EVENT_THREAD_START), GetParam() != 1);
    EXPECT_EQ(fk.isEnabled(JVMTI_EVENT_THREAD_END), GetParam() != 2);
}

INSTANTIATE_TEST_SUITE_P(FirstOrSecond, LoadEventSwitchTest, ::testing::Values(1, 2));

TEST_F(FakeJvmTest, UnloadMakesNoCallAndLeavesEventsOn) {
    ASSERT_EQ(loadAgent(), JNI_OK);
    ASSERT_TRUE(fk.threadStart(fk.newThread("T")));
    fk.clearCalls();
    Agent_OnUnload(fk.vm());
    EXPECT_THAT(fk.calls(), IsEmpty());
    EXPECT_TRUE(fk.isEnabled(JVMTI_EVENT_METHOD_ENTRY));
    EXPECT_TRUE(fk.isEnabled(JVMTI_EVENT_THREAD_START));
}

}  // namespace
