// What the uid table and the start rings cost in their worst cases: plain C++, no tool
// interface, so every figure is the agent's own time.
//
// A full table has all 30 records claimed, each group holding 58 threads; a full ring has
// all 64 entries taken. Each operation leaves the table as it found it, so the loop repeats
// the same worst case.
#include <benchmark/benchmark.h>

#include "store/thread_starts.h"
#include "store/uid_table.h"

namespace {

constexpr ThreadHash ABSENT = 0x7fff0001;

ThreadHash fillerHash(int record, int slot) { return 0x40000000 + record * UID_SLOT_COUNT + slot; }

// Every record claimed, every group full.
void fillTable(UidTable& table) {
    for (int r = 0; r < UID_RECORD_COUNT; ++r) {
        table.records[r].uid = 1000 + r;
        for (int s = 0; s < UID_SLOT_COUNT; ++s) table.records[r].slots[s] = fillerHash(r, s);
    }
}

// The thread that sits where every search ends: the last slot of the last record.
ThreadHash lastMember() { return fillerHash(UID_RECORD_COUNT - 1, UID_SLOT_COUNT - 1); }

UidTable table;   // static storage: too big to sit comfortably on the stack

void lookupUidAbsent(benchmark::State& state) {
    fillTable(table);
    for (auto _ : state) benchmark::DoNotOptimize(lookupUid(table, ABSENT));
}

void lookupUidLastMember(benchmark::State& state) {
    fillTable(table);
    for (auto _ : state) benchmark::DoNotOptimize(lookupUid(table, lastMember()));
}

// The parent's group is full: the child, in no group, is turned away.
void propagateUidIntoFullGroup(benchmark::State& state) {
    fillTable(table);
    for (auto _ : state) {
        propagateUid(table, lastMember(), ABSENT);
        benchmark::ClobberMemory();
    }
}

// A new uid while no record is free and none has an empty group: the thread lands nowhere.
void registerThreadNoRecordFree(benchmark::State& state) {
    fillTable(table);
    for (auto _ : state) {
        registerThread(table, ABSENT, 77);
        benchmark::ClobberMemory();
    }
}

void removeThreadAbsent(benchmark::State& state) {
    fillTable(table);
    for (auto _ : state) {
        removeThread(table, ABSENT);
        benchmark::ClobberMemory();
    }
}

RecentStarts recent;
PendingStarts pending;

void fillRings() {
    recent = RecentStarts{};
    pending = PendingStarts{};
    for (int i = 0; i < RECENT_START_COUNT; ++i) noteThreadStart(recent, 0x50000000 + i);
    for (int i = 0; i < PENDING_START_COUNT; ++i) pushPendingStart(pending, 0x60000000 + i, 0x61000000 + i);
}

void noteThreadStartFullRing(benchmark::State& state) {
    fillRings();
    for (auto _ : state) {
        noteThreadStart(recent, 0x50000000);
        benchmark::ClobberMemory();
    }
}

void wasStartedRecentlyAbsent(benchmark::State& state) {
    fillRings();
    for (auto _ : state) benchmark::DoNotOptimize(wasStartedRecently(recent, ABSENT));
}

// A push onto a full ring then the pop of that caller's hand-over, the pair a Thread.start makes.
void pushThenPopPendingStart(benchmark::State& state) {
    fillRings();
    ThreadHash started = 0;
    for (auto _ : state) {
        pushPendingStart(pending, ABSENT, 0x62000000);
        benchmark::DoNotOptimize(popPendingStart(pending, ABSENT, &started));
    }
}

// The caller's hand-over is the oldest of a full ring: the pop scans all of it. The entry is
// put back where it was, without moving the ring on.
void popPendingStartOldest(benchmark::State& state) {
    fillRings();
    ThreadHash started = 0;
    PendingStart oldest = pending.entries[0];   // the first of a full ring's pushes
    for (auto _ : state) {
        pending.entries[0] = PendingStart{ABSENT, 0x62000000, oldest.age};
        benchmark::DoNotOptimize(popPendingStart(pending, ABSENT, &started));
    }
}

void popPendingStartAbsent(benchmark::State& state) {
    fillRings();
    ThreadHash started = 0;
    for (auto _ : state) benchmark::DoNotOptimize(popPendingStart(pending, ABSENT, &started));
}

void forgetPendingStartsOfAbsent(benchmark::State& state) {
    fillRings();
    for (auto _ : state) {
        forgetPendingStartsOf(pending, ABSENT);
        benchmark::ClobberMemory();
    }
}

}  // namespace

BENCHMARK(lookupUidAbsent);
BENCHMARK(lookupUidLastMember);
BENCHMARK(propagateUidIntoFullGroup);
BENCHMARK(registerThreadNoRecordFree);
BENCHMARK(removeThreadAbsent);
BENCHMARK(noteThreadStartFullRing);
BENCHMARK(wasStartedRecentlyAbsent);
BENCHMARK(pushThenPopPendingStart);
BENCHMARK(popPendingStartOldest);
BENCHMARK(popPendingStartAbsent);
BENCHMARK(forgetPendingStartsOfAbsent);

BENCHMARK_MAIN();
