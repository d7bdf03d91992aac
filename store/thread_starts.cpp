#include "store/thread_starts.h"

void noteThreadStart(RecentStarts& recent, ThreadHash hash) {
    recent.hashes[recent.next % RECENT_START_COUNT] = hash;
    recent.next = (recent.next + 1) % RECENT_START_COUNT;
}

bool wasStartedRecently(const RecentStarts& recent, ThreadHash hash) {
    if (hash == 0) return false;
    for (ThreadHash noted : recent.hashes) {
        if (noted == hash) return true;
    }
    return false;
}

void pushPendingStart(PendingStarts& pending, ThreadHash caller, ThreadHash started) {
    pending.entries[pending.next % PENDING_START_COUNT] = PendingStart{caller, started};
    pending.next = (pending.next + 1) % PENDING_START_COUNT;
}

bool popPendingStart(PendingStarts& pending, ThreadHash caller, ThreadHash* started) {
    if (caller == 0) return false;
    for (int age = 1; age <= PENDING_START_COUNT; ++age) {
        PendingStart& entry = pending.entries[(pending.next + PENDING_START_COUNT - age) % PENDING_START_COUNT];
        if (entry.caller == caller) {
            *started = entry.started;
            entry = PendingStart{0, 0};
            return true;
        }
    }
    return false;
}

void forgetPendingStartsOf(PendingStarts& pending, ThreadHash caller) {
    if (caller == 0) return;
    for (PendingStart& entry : pending.entries) {
        if (entry.caller == caller) entry = PendingStart{0, 0};
    }
}
