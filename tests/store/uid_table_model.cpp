#include "uid_table_model.h"

namespace {

ModelRecord* recordHolding(UidTableModel& model, ThreadHash hash) {
    for (ModelRecord& record : model.records) {
        if (record.members.count(hash) != 0) return &record;
    }
    return nullptr;
}

ModelRecord* firstRecord(UidTableModel& model, bool (*wanted)(const ModelRecord&)) {
    for (ModelRecord& record : model.records) {
        if (wanted(record)) return &record;
    }
    return nullptr;
}

}  // namespace

void modelRemoveThread(UidTableModel& model, ThreadHash hash) {
    if (hash == 0) return;
    for (ModelRecord& record : model.records) record.members.erase(hash);
}

// A thread registers as the only member of uid's group. uid 0 is no context:
// the thread just leaves its group. A uid without a record takes the first
// free record, else the first record whose group has emptied, else nothing.
void modelRegisterThread(UidTableModel& model, ThreadHash hash, std::int32_t uid) {
    ++model.events.registrations;
    bool hadUid = hash != 0 && recordHolding(model, hash) != nullptr;
    modelRemoveThread(model, hash);
    if (uid == 0) {
        if (hadUid) ++model.events.registrationsUnderZero;
        return;
    }
    ModelRecord* record = nullptr;
    for (ModelRecord& candidate : model.records) {
        if (candidate.uid == uid) record = &candidate;
    }
    if (record != nullptr) {
        if (!record->members.empty()) ++model.events.groupRestarts;
    } else {
        record = firstRecord(model, [](const ModelRecord& r) { return r.uid == 0; });
        if (record == nullptr) {
            record = firstRecord(model, [](const ModelRecord& r) { return r.members.empty(); });
            if (record == nullptr) {
                ++model.events.registrationsTurnedAway;
                return;
            }
            ++model.events.emptyRecordsReclaimed;
        }
        record->uid = uid;
    }
    record->members.clear();
    if (hash != 0) record->members.insert(hash);
}

// The child leaves wherever it was and joins the parent's group, unless the
// parent has none or the group already has 58 members. Hash 0 is nobody.
void modelPropagateUid(UidTableModel& model, ThreadHash parent, ThreadHash child) {
    modelRemoveThread(model, child);
    if (parent == 0 || child == 0) return;
    ModelRecord* group = recordHolding(model, parent);
    if (group == nullptr) {
        ++model.events.orphanedChildren;
        return;
    }
    if (group->members.size() >= static_cast<std::size_t>(UID_SLOT_COUNT)) {
        ++model.events.fullGroupsTurnedAway;
        return;
    }
    group->members.insert(child);
}

std::int32_t modelLookupUid(UidTableModel& model, ThreadHash hash) {
    if (hash == 0) return 0;
    ModelRecord* record = recordHolding(model, hash);
    return record == nullptr ? 0 : record->uid;
}

std::map<ThreadHash, std::int32_t> modelUidsOfMembers(const UidTableModel& model) {
    std::map<ThreadHash, std::int32_t> uids;
    for (const ModelRecord& record : model.records) {
        for (ThreadHash member : record.members) uids[member] = record.uid;
    }
    return uids;
}

void modelNoteLiveContexts(UidTableModel& model) {
    int live = 0;
    for (const ModelRecord& record : model.records) {
        if (record.uid != 0 && !record.members.empty()) ++live;
    }
    if (live == UID_RECORD_COUNT) ++model.events.thirtyLiveContexts;
}
