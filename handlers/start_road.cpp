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
    }
    return agentState.threadClass;
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
    bool isThread = jni->IsInstanceOf(started, threadClass(jni)) == JNI_TRUE;
    ThreadHash startedHash = isThread ? hashOfObject(started) : 0;
    jni->DeleteLocalRef(started);
    if (!isThread) return false;

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
