#include "agent/event_switch.h"

#include "agent/agent_state.h"
#include "agent/fatal_report.h"
#include "handlers/monitor_snapshots.h"
#include "handlers/thread_identity.h"

void switchMethodEvents(bool on) {
    jvmtiEventMode mode = on ? JVMTI_ENABLE : JVMTI_DISABLE;
    agentState.jvmti->SetEventNotificationMode(mode, JVMTI_EVENT_METHOD_ENTRY, nullptr);
    agentState.jvmti->SetEventNotificationMode(mode, JVMTI_EVENT_METHOD_EXIT, nullptr);
}

void JNICALL onThreadStart(jvmtiEnv*, JNIEnv*, jthread thread) {
    lockAgent();
    switchMethodEvents(true);
    ThreadHash hash = 0;
    if (hashOfEventThread(thread, &hash)) noteThreadStart(agentState.recentStarts, hash);
    unlockAgent();
}

void JNICALL onThreadEnd(jvmtiEnv*, JNIEnv* jni, jthread thread) {
    lockAgent();
    ThreadHash hash = 0;
    if (hashOfEventThread(thread, &hash)) {
        removeThread(agentState.uidTable, hash);
        releaseSnapshotsOf(jni, hash);
        forgetPendingStartsOf(agentState.pendingStarts, hash);
    }
    unlockAgent();
}
