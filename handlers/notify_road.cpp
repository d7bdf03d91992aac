#include "handlers/notify_road.h"

#include "agent/agent_state.h"
#include "agent/fatal_report.h"
#include "handlers/monitor_snapshots.h"
#include "handlers/thread_identity.h"

namespace {

bool isSameObject(void* jni, jobject a, jobject b) {
    return static_cast<JNIEnv*>(jni)->IsSameObject(a, b) == JNI_TRUE;
}

bool stillWaits(JNIEnv* jni, const MonitorSnapshot& after, jobject waiter) {
    for (jint i = 0; i < after.notify_waiter_count; ++i) {
        if (isSameObject(jni, after.notify_waiters[i], waiter)) return true;
    }
    return false;
}

// Hands the caller's uid to the before-waiters missing from now; true if any.
bool handOverMonitor(JNIEnv* jni, jobject monitor, ThreadHash callerHash, const char* name) {
    ThrInfo* before = takeThrInfo(agentState.snapshotQueue, callerHash, monitor, isSameObject, jni);
    if (before == nullptr) return false;   // no snapshot of this monitor: nobody to compare
    MonitorSnapshot* after = takeMonitorSnapshot(monitor);
    bool handedOver = false;
    for (jint i = 0; i < before->snapshot->notify_waiter_count; ++i) {
        jobject waiter = before->snapshot->notify_waiters[i];
        if (stillWaits(jni, *after, waiter)) continue;
        ThreadHash waiterHash = hashOfObject(waiter);
        propagateUid(agentState.uidTable, callerHash, waiterHash);
        int status = insertThrContext(agentState.contextHistory, callerHash, waiterHash, name);
        if (status != 0) abortOnToolError("insertThrContext", status);
        handedOver = true;
    }
    freeMonitorSnapshot(jni, after, false);
    releaseThrInfo(jni, before);
    return handedOver;
}

}  // namespace

void queueMonitorSnapshots(JNIEnv* jni, jthread caller, ThreadHash callerHash) {
    // Snapshots of an earlier call whose exit never came would only mislead.
    releaseSnapshotsOf(jni, callerHash);
    OwnedMonitors owned = getOwnedMonitors(caller);
    for (jint i = 0; i < owned.count; ++i) {
        MonitorSnapshot* snapshot = takeMonitorSnapshot(owned.monitors[i]);
        keepSnapshotWaiters(jni, snapshot);
        jobject monitor = newGlobalRef(jni, owned.monitors[i]);
        int status = insertThrInfo(agentState.snapshotQueue, snapshot, callerHash, monitor);
        if (status != 0) abortOnToolError("insertThrInfo", status);
    }
    deallocate(owned.monitors);
}

bool handOverToWokenThreads(JNIEnv* jni, jthread caller, ThreadHash callerHash, const char* name) {
    OwnedMonitors owned = getOwnedMonitors(caller);
    bool handedOver = false;
    for (jint i = 0; i < owned.count; ++i) {
        if (handOverMonitor(jni, owned.monitors[i], callerHash, name)) handedOver = true;
    }
    deallocate(owned.monitors);
    return handedOver;
}
