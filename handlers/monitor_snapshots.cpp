#include "handlers/monitor_snapshots.h"

#include <cstdlib>

#include "agent/agent_state.h"
#include "agent/fatal_report.h"
#include "handlers/thread_identity.h"

OwnedMonitors getOwnedMonitors(jthread thread) {
    OwnedMonitors owned{0, nullptr};
    checkToolCall(agentState.jvmti->GetOwnedMonitorInfo(thread, &owned.count, &owned.monitors),
                  "GetOwnedMonitorInfo");
    return owned;
}

MonitorSnapshot* takeMonitorSnapshot(jobject monitor) {
    MonitorSnapshot* snapshot = static_cast<MonitorSnapshot*>(std::calloc(1, sizeof(MonitorSnapshot)));
    if (snapshot == nullptr) abortOnNoMemory();
    checkToolCall(agentState.jvmti->GetObjectMonitorUsage(monitor, snapshot), "GetObjectMonitorUsage");
    return snapshot;
}

jobject newGlobalRef(JNIEnv* jni, jobject object) {
    jobject global = jni->NewGlobalRef(object);
    if (global == nullptr && object != nullptr) abortOnNoMemory();
    return global;
}

void keepSnapshotWaiters(JNIEnv* jni, MonitorSnapshot* snapshot) {
    for (jint i = 0; i < snapshot->notify_waiter_count; ++i) {
        snapshot->notify_waiters[i] = newGlobalRef(jni, snapshot->notify_waiters[i]);
    }
}

void freeMonitorSnapshot(JNIEnv* jni, MonitorSnapshot* snapshot, bool waitersKept) {
    if (waitersKept) {
        for (jint i = 0; i < snapshot->notify_waiter_count; ++i) jni->DeleteGlobalRef(snapshot->notify_waiters[i]);
    }
    deallocate(snapshot->waiters);
    deallocate(snapshot->notify_waiters);
    std::free(snapshot);
}

void releaseThrInfo(JNIEnv* jni, ThrInfo* node) {
    freeMonitorSnapshot(jni, node->snapshot, true);
    jni->DeleteGlobalRef(node->monitor);
    std::free(node);
}

void releaseSnapshotsOf(JNIEnv* jni, ThreadHash threadHash) {
    ThrInfo* node = takeThrInfosOf(agentState.snapshotQueue, threadHash);
    while (node != nullptr) {
        ThrInfo* next = node->next;
        releaseThrInfo(jni, node);
        node = next;
    }
}
