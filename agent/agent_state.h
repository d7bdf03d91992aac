// The agent's process-wide state: one of each, zero at process start, never torn down.
#pragma once

#include <jvmti.h>

#include "store/context_history.h"
#include "store/snapshot_queue.h"
#include "store/thread_starts.h"
#include "store/uid_table.h"

struct AgentState {
    jvmtiEnv* jvmti;                  // every tool-interface call goes through this one
    jrawMonitorID agentRawMonitor;    // "Vesk", serialises all handlers
    jvmtiCapabilities capabilities;
    UidTable uidTable;
    SnapshotQueue snapshotQueue;
    ContextHistory contextHistory;
    RecentStarts recentStarts;
    PendingStarts pendingStarts;
    jclass threadClass;               // global reference to java.lang.Thread, found at first need
    jclass virtualThreadClass;        // the same for the virtual threads' base class; null on a JDK without them
};

extern AgentState agentState;
