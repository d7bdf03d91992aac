#include "store/uid_table.h"

#include <cstring>

namespace {

bool isEmpty(const UidRecord& record) {
    for (ThreadHash slot : record.slots) {
        if (slot != 0) return false;
    }
    return true;
}

// The record that will hold uid's group: its own, else a free one, else one
// whose members have all gone. A newly claimed record starts empty, so no
// earlier occupant can pick up the new uid.
UidRecord* recordFor(UidTable& table, std::int32_t uid) {
    for (UidRecord& record : table.records) {
        if (record.uid == uid) return &record;
    }
    UidRecord* claimed = nullptr;
    for (UidRecord& record : table.records) {
        if (record.uid == 0) { claimed = &record; break; }
    }
    if (claimed == nullptr) {
        for (UidRecord& record : table.records) {
            if (isEmpty(record)) { claimed = &record; break; }
        }
    }
    if (claimed != nullptr) {
        claimed->uid = uid;
        std::memset(claimed->slots, 0, sizeof claimed->slots);
    }
    return claimed;
}

}  // namespace

void clearUidTable(UidTable& table) {
    std::memset(&table, 0, sizeof table);
}

void clearUidSlots(UidTable& table, std::int32_t uid) {
    for (UidRecord& record : table.records) {
        if (record.uid == uid) std::memset(record.slots, 0, sizeof record.slots);
    }
}

// Only records that carry a uid ever hold a thread, so every search below passes
// over free ones: in a process with few contexts most of the table is free.
void removeThread(UidTable& table, ThreadHash hash) {
    if (hash == 0) return;
    for (UidRecord& record : table.records) {
        if (record.uid == 0) continue;
        for (ThreadHash& slot : record.slots) {
            if (slot == hash) slot = 0;
        }
    }
}

void registerThread(UidTable& table, ThreadHash hash, std::int32_t uid) {
    removeThread(table, hash);
    if (uid == 0) return;
    clearUidSlots(table, uid);
    UidRecord* record = recordFor(table, uid);
    if (record != nullptr && hash != 0) record->slots[0] = hash;
}

void propagateUid(UidTable& table, ThreadHash parent, ThreadHash child) {
    removeThread(table, child);
    if (parent == 0 || child == 0) return;
    for (UidRecord& record : table.records) {
        if (record.uid == 0) continue;
        bool parentHere = false;
        ThreadHash* firstEmpty = nullptr;
        for (ThreadHash& slot : record.slots) {
            if (slot == parent) parentHere = true;
            else if (slot == 0 && firstEmpty == nullptr) firstEmpty = &slot;
        }
        if (!parentHere) continue;
        // A full group turns the newcomer away and keeps its members.
        if (firstEmpty != nullptr) *firstEmpty = child;
        return;
    }
}

std::int32_t lookupUid(const UidTable& table, ThreadHash hash) {
    if (hash == 0) return 0;
    for (const UidRecord& record : table.records) {
        if (record.uid == 0) continue;
        for (ThreadHash slot : record.slots) {
            if (slot == hash) return record.uid;
        }
    }
    return 0;
}
