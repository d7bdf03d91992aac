// A reference model of the uid table, kept as plain as possible so that it is
// obviously right: thirty records in index order, each a uid (0: free) and the
// set of hashes in its group. Where a thread sits inside a record cannot be
// seen through lookupUid, so the model keeps sets, not slots.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <set>

#include "store/uid_table.h"

struct ModelRecord {
    std::int32_t uid = 0;
    std::set<ThreadHash> members;
};

// How often each hard corner of the table was reached, so that a randomized run
// can show that it went there.
struct ModelEvents {
    long registrations = 0;
    long groupRestarts = 0;           // registration under a uid whose group had members
    long registrationsUnderZero = 0;  // a thread with a uid registered under 0
    long emptyRecordsReclaimed = 0;   // no free record, an emptied one taken for a new uid
    long registrationsTurnedAway = 0; // no free and no empty record for a new uid
    long fullGroupsTurnedAway = 0;    // propagation into a group of 58
    long orphanedChildren = 0;        // propagation from a parent in no group
    long thirtyLiveContexts = 0;      // operations after which 30 groups had members
};

struct UidTableModel {
    std::array<ModelRecord, UID_RECORD_COUNT> records;
    ModelEvents events;
};

void modelRemoveThread(UidTableModel& model, ThreadHash hash);
void modelRegisterThread(UidTableModel& model, ThreadHash hash, std::int32_t uid);
void modelPropagateUid(UidTableModel& model, ThreadHash parent, ThreadHash child);
std::int32_t modelLookupUid(UidTableModel& model, ThreadHash hash);
// The uid of every thread that stands in a group; any other thread looks up as 0.
std::map<ThreadHash, std::int32_t> modelUidsOfMembers(const UidTableModel& model);
// Counts how many groups have members; called by the driver after each operation.
void modelNoteLiveContexts(UidTableModel& model);
