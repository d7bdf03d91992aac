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
    PendingStart* room = &pending.entries[0];
    for (PendingStart& entry : pending.entries) {
        if (entry.caller == 0) {
            room = &entry;
            break;
        }
        if (entry.age < room->age) room = &entry;
    }
    *room = PendingStart{caller, started, ++pending.pushes};
}

bool hasPendingStart(const PendingStarts& pending, ThreadHash caller) {
    if (caller == 0) return false;
    for (const PendingStart& entry : pending.entries) {
        if (entry.caller == caller) return true;
    }
    return false;
}

bool popPendingStart(PendingStarts& pending, ThreadHash caller, ThreadHash* started) {
    if (caller == 0) return false;
    PendingStart* newest = nullptr;
    for (PendingStart& entry : pending.entries) {
        if (entry.caller == caller && (newest == nullptr || entry.age > newest->age)) newest = &entry;
    }
    if (newest == nullptr) return false;
    *started = newest->started;
    *newest = PendingStart{0, 0, 0};
    return true;
}

void forgetPendingStartsOf(PendingStarts& pending, ThreadHash caller) {
    if (caller == 0) return;
    for (PendingStart& entry : pending.entries) {
        if (entry.caller == caller) entry = PendingStart{0, 0, 0};
    }
}
