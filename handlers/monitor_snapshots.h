// Snapshots of monitor usage: taken at a notify, kept across callbacks, given back.
#pragma once

#include <jvmti.h>

#include "store/snapshot_queue.h"

struct OwnedMonitors {
    jint count;
    jobject* monitors;   // tool-interface array, given back with deallocate
};

// "GetOwnedMonitorInfo" on failure.
OwnedMonitors getOwnedMonitors(jthread thread);

// The monitor's usage now ("GetObjectMonitorUsage" on failure). Its thread
// references are local to this callback until keepSnapshotWaiters.
MonitorSnapshot* takeMonitorSnapshot(jobject monitor);
// Turns the notify waiters into global references, so that a later callback
// still sees the same threads.
void keepSnapshotWaiters(JNIEnv* jni, MonitorSnapshot* snapshot);
// Frees a snapshot and gives back its arrays; waitersKept says whether its
// notify waiters are global references to delete.
void freeMonitorSnapshot(JNIEnv* jni, MonitorSnapshot* snapshot, bool waitersKept);

// Frees a node taken out of the queue, with its snapshot and monitor reference.
void releaseThrInfo(JNIEnv* jni, ThrInfo* node);
// Frees every snapshot the thread queued.
void releaseSnapshotsOf(JNIEnv* jni, ThreadHash threadHash);

// A global reference to object; no memory is the only way it fails.
jobject newGlobalRef(JNIEnv* jni, jobject object);
