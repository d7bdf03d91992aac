// Short memories of thread starts: which threads began to run lately, and which
// Thread.start calls have handed a context over but not yet returned.
#pragma once

#include "store/uid_table.h"

constexpr int RECENT_START_COUNT = 64;
constexpr int PENDING_START_COUNT = 64;

struct RecentStarts {
    ThreadHash hashes[RECENT_START_COUNT];
    unsigned next;   // where the next start is written; the oldest is overwritten
};

struct PendingStart {
    ThreadHash caller;    // 0: entry unused
    ThreadHash started;
    unsigned age;         // order of the pushes: a larger one is newer
};

// A start call that never returns (its exit came while method events were off)
// leaves its entry behind, so when all are in use the oldest makes room.
struct PendingStarts {
    PendingStart entries[PENDING_START_COUNT];
    unsigned pushes;
};

void noteThreadStart(RecentStarts& recent, ThreadHash hash);
bool wasStartedRecently(const RecentStarts& recent, ThreadHash hash);

// Remembers that caller, inside a start call, handed over to started.
void pushPendingStart(PendingStarts& pending, ThreadHash caller, ThreadHash started);
bool hasPendingStart(const PendingStarts& pending, ThreadHash caller);
// Forgets the caller's newest hand-over, giving back whom it started; false
// when the caller has none (nested calls return innermost first).
bool popPendingStart(PendingStarts& pending, ThreadHash caller, ThreadHash* started);
void forgetPendingStartsOf(PendingStarts& pending, ThreadHash caller);
