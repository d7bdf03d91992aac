// Which threads carry which advice context: a fixed table of groups, one per uid.
#pragma once

#include <cstdint>

// Identity hash code of a java.lang.Thread object; the agent's only notion of
// thread identity. 0 never names a thread: it marks an empty slot.
using ThreadHash = std::int32_t;

constexpr int UID_RECORD_COUNT = 30;
constexpr int UID_SLOT_COUNT = 58;

struct UidRecord {
    std::int32_t uid;                   // 0: the record is free
    ThreadHash slots[UID_SLOT_COUNT];   // the group; 0: empty slot
};

struct UidTable {
    UidRecord records[UID_RECORD_COUNT];
};

void clearUidTable(UidTable& table);
// Empties the group of every record that carries this uid.
void clearUidSlots(UidTable& table, std::int32_t uid);
// Takes the thread out of every slot of the table.
void removeThread(UidTable& table, ThreadHash hash);
// Makes the thread the only member of the group of uid. Under uid 0 the thread
// is only removed: 0 is no context.
void registerThread(UidTable& table, ThreadHash hash, std::int32_t uid);
// Moves the child into the parent's group; a child of a parent without a group,
// or bound for a full group, ends up in no group.
void propagateUid(UidTable& table, ThreadHash parent, ThreadHash child);
// The uid the thread carries, 0 when none.
std::int32_t lookupUid(const UidTable& table, ThreadHash hash);
