#include "handlers/start_road.h"

#include "agent/agent_state.h"
#include "agent/event_switch.h"
#include "agent/fatal_report.h"
#include "handlers/monitor_snapshots.h"
#include "handlers/thread_identity.h"

namespace {

jclass threadClass(JNIEnv* jni) {
    if (agentState.threadClass == nullptr) {
        jclass local = jni->FindClass("java/lang/Thread");
        if (local == nullptr) abortOnToolError("FindClass", JVMTI_ERROR_INTERNAL);
        agentState.threadClass = static_cast<jclass>(newGlobalRef(jni, local));
        jni->DeleteLocalRef(local);
        // Absent on a JDK without virtual threads (17): the lookup then throws, which
        // must not reach the application.
        jclass virtualLocal = jni->FindClass("java/lang/BaseVirtualThread");
        if (virtualLocal == nullptr) {
            jni->ExceptionClear();
        } else {
            agentState.virtualThreadClass = static_cast<jclass>(newGlobalRef(jni, virtualLocal));
            jni->DeleteLocalRef(virtualLocal);
        }
    }
    return agentState.threadClass;
}

// Only a platform thread that has not run yet is really started. Virtual threads
// report neither start nor end to the agent, so they would stay in the table for
// good; a start on a thread that has run, or runs, throws and starts nothing.
bool isUnstartedPlatformThread(JNIEnv* jni, jobject object) {
    if (jni->IsInstanceOf(object, threadClass(jni)) != JNI_TRUE) return false;
    if (agentState.virtualThreadClass != nullptr &&
        jni->IsInstanceOf(object, agentState.virtualThreadClass) == JNI_TRUE) {
        return false;
    }
    jint state = 0;
    checkToolCall(agentState.jvmti->GetThreadState(object, &state), "GetThreadState");
    return (state & (JVMTI_THREAD_STATE_ALIVE | JVMTI_THREAD_STATE_TERMINATED)) == 0;
}

// Slot 0 of a static or native start holds no thread; such a call starts nothing.
bool isNoThreadSlot(jvmtiError error) {
    return error == JVMTI_ERROR_INVALID_SLOT || error == JVMTI_ERROR_TYPE_MISMATCH ||
           error == JVMTI_ERROR_OPAQUE_FRAME;
}

}  // namespace

bool isThreadClassMethod(JNIEnv* jni, jmethodID method) {
    jclass declaring = nullptr;
    checkToolCall(agentState.jvmti->GetMethodDeclaringClass(method, &declaring), "GetMethodDeclaringClass");
    bool isThread = jni->IsAssignableFrom(declaring, threadClass(jni)) == JNI_TRUE;
    jni->DeleteLocalRef(declaring);
    return isThread;
}

bool handOverAtStart(JNIEnv* jni, jthread caller, ThreadHash callerHash, const char* name) {
    jobject started = nullptr;
    jvmtiError error = agentState.jvmti->GetLocalObject(caller, 0, 0, &started);
    if (isNoThreadSlot(error)) return false;
    checkToolCall(error, "GetLocalObject");
    if (started == nullptr) return false;
    bool isStart = isUnstartedPlatformThread(jni, started);
    ThreadHash startedHash = isStart ? hashOfObject(started) : 0;
    jni->DeleteLocalRef(started);
    if (!isStart) return false;

    propagateUid(agentState.uidTable, callerHash, startedHash);
    int status = insertThrContext(agentState.contextHistory, callerHash, startedHash, name);
    if (status != 0) abortOnToolError("insertThrContext", status);
    pushPendingStart(agentState.pendingStarts, callerHash, startedHash);
    return true;
}

void switchAfterStart(ThreadHash callerHash) {
    ThreadHash started = 0;
    if (!popPendingStart(agentState.pendingStarts, callerHash, &started)) return;
    if (!wasStartedRecently(agentState.recentStarts, started)) switchMethodEvents(false);
}
