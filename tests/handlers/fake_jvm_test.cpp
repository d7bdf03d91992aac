// The fake's own detectors: a leak or misuse check that never fires would make every
// handler test that leans on it pass for nothing.
#include <cstdlib>

#include "tests/fake/fake_jvm.h"

using namespace fake;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

jobject keptThread;
void JNICALL keepThread(jvmtiEnv*, JNIEnv*, jthread thread) { keptThread = thread; }
void JNICALL hashWithoutLock(jvmtiEnv* jvmti, JNIEnv*, jthread thread) {
    jint hash = 0;
    jvmti->GetObjectHashCode(thread, &hash);
}

class FakeJvmSelfTest : public ::testing::Test {
protected:
    FakeJvm fk;
    ObjectId a = fk.newThread("A");

    void install(jvmtiEventThreadStart handler) {
        jvmtiEventCallbacks callbacks{};
        callbacks.ThreadStart = handler;
        ASSERT_EQ(fk.jvmti()->SetEventCallbacks(&callbacks, sizeof callbacks), JVMTI_ERROR_NONE);
        jrawMonitorID monitor;
        ASSERT_EQ(fk.jvmti()->CreateRawMonitor("Vesk", &monitor), JVMTI_ERROR_NONE);
    }
};

TEST_F(FakeJvmSelfTest, DeliversOnlyWhileEnabled) {
    install(keepThread);
    EXPECT_FALSE(fk.threadStart(a));
    fk.jvmti()->SetEventNotificationMode(JVMTI_ENABLE, JVMTI_EVENT_THREAD_START, nullptr);
    EXPECT_TRUE(fk.threadStart(a));
    // Method events need their capability, as on a VM.
    EXPECT_EQ(fk.jvmti()->SetEventNotificationMode(JVMTI_ENABLE, JVMTI_EVENT_METHOD_ENTRY, nullptr),
              JVMTI_ERROR_MUST_POSSESS_CAPABILITY);
    EXPECT_FALSE(fk.isEnabled(JVMTI_EVENT_METHOD_ENTRY));
}

TEST_F(FakeJvmSelfTest, ReportsALocalReferenceUsedAfterItsCallback) {
    install(keepThread);
    fk.jvmti()->SetEventNotificationMode(JVMTI_ENABLE, JVMTI_EVENT_THREAD_START, nullptr);
    ASSERT_TRUE(fk.threadStart(a));
    jint hash = 0;
    fk.jvmti()->GetObjectHashCode(keptThread, &hash);
    EXPECT_THAT(fk.violations(), ElementsAre("GetObjectHashCode: stale local reference to A"));
}

TEST_F(FakeJvmSelfTest, ReportsACallInsideADeliveryWithoutTheLock) {
    install(hashWithoutLock);
    fk.jvmti()->SetEventNotificationMode(JVMTI_ENABLE, JVMTI_EVENT_THREAD_START, nullptr);
    ASSERT_TRUE(fk.threadStart(a));
    EXPECT_THAT(fk.violations(), ElementsAre("GetObjectHashCode(A) called without the agent lock"));
}

TEST_F(FakeJvmSelfTest, CountsGlobalReferencesAndReportsADoubleDelete) {
    install(keepThread);
    jobject global = fk.jni()->NewGlobalRef(fk.jni()->FindClass("java/lang/Thread"));
    EXPECT_THAT(fk.liveGlobalRefs(), ElementsAre(global));
    fk.jni()->DeleteGlobalRef(global);
    EXPECT_THAT(fk.liveGlobalRefs(), IsEmpty());
    fk.jni()->DeleteGlobalRef(global);
    EXPECT_THAT(fk.violations(), ElementsAre("DeleteGlobalRef: already deleted reference to java/lang/Thread"));
}

TEST_F(FakeJvmSelfTest, FailsTheNthCallAndTheNthAllocation) {
    install(keepThread);
    fk.failCall("Deallocate", JVMTI_ERROR_INVALID_ENVIRONMENT, 2);
    unsigned char* block = nullptr;
    fk.jvmti()->Allocate(8, &block);
    EXPECT_EQ(fk.jvmti()->Deallocate(nullptr), JVMTI_ERROR_NONE);
    EXPECT_EQ(fk.jvmti()->Deallocate(block), JVMTI_ERROR_INVALID_ENVIRONMENT);
    EXPECT_EQ(fk.jvmti()->Deallocate(block), JVMTI_ERROR_NONE);
    EXPECT_THAT(fk.liveBlocks(), IsEmpty());

    fk.failHeapAllocation(2);
    void* volatile first = std::malloc(16);
    void* volatile second = std::calloc(1, 16);
    void* volatile third = std::malloc(16);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(second, nullptr);
    EXPECT_NE(third, nullptr);
    std::free(first);
    std::free(third);
    EXPECT_THAT(fk.callsAfterFailure(), ElementsAre("Deallocate(Allocate)", "calloc(fails)"));
}

}  // namespace
