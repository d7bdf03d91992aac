// Monitor snapshots carried from the entry of a notify to its exit.
#pragma once

#include <jvmti.h>

#include "store/uid_table.h"

// The usage of one monitor as a notify call found it. Its arrays come from the
// tool interface; the threads in notify_waiters are global references while the
// snapshot waits in the queue.
using MonitorSnapshot = jvmtiMonitorUsage;

struct ThrInfo {
    MonitorSnapshot* snapshot;
    ThreadHash threadHash;   // the thread that took the snapshot
    jobject monitor;         // global reference to the monitor it was taken of
    ThrInfo* next;
};

struct SnapshotQueue {
    ThrInfo* head;   // oldest
    ThrInfo* tail;   // newest
};

// Tells whether two references name the same monitor.
using SameMonitorFn = bool (*)(void* context, jobject a, jobject b);

// Appends a node that owns the snapshot and the monitor reference. Always 0.
int insertThrInfo(SnapshotQueue& queue, MonitorSnapshot* snapshot, ThreadHash threadHash, jobject monitor);
// Drops the head node; the snapshot it carried is the caller's.
void popThrInfo(SnapshotQueue& queue);
// Unlinks and returns the oldest node of this thread and monitor, or null.
ThrInfo* takeThrInfo(SnapshotQueue& queue, ThreadHash threadHash, jobject monitor, SameMonitorFn same,
                     void* context);
// Unlinks every node of this thread and returns them as a chain through next.
ThrInfo* takeThrInfosOf(SnapshotQueue& queue, ThreadHash threadHash);
