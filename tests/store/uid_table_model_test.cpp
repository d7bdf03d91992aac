// The uid table against its reference model over long seeded random sequences.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "uid_table_driver.h"

namespace {

constexpr std::size_t kOpsPerSeed = 2000;

std::vector<std::uint32_t> seedsToRun() {
    std::vector<std::uint32_t> seeds{1, 2, 3, 17, 4242, 0xC0FFEEu, 0xDEADBEEFu};
    if (const char* extra = std::getenv("VESK_MODEL_SEED")) {
        seeds.push_back(static_cast<std::uint32_t>(std::strtoul(extra, nullptr, 0)));
    }
    return seeds;
}

// Every corner of the table the sequences are meant to reach, with how often it was.
void expectCornersReached(const DriveResult& result, std::uint32_t seed) {
    const ModelEvents& events = result.events;
    struct Corner {
        const char* name;
        long count;
    };
    const Corner corners[] = {
        {"a full group turning a thread away", events.fullGroupsTurnedAway},
        {"a full table turning a registration away", events.registrationsTurnedAway},
        {"an emptied record serving a new uid", events.emptyRecordsReclaimed},
        {"a registration restarting a group", events.groupRestarts},
        {"a thread with a uid registering under 0", events.registrationsUnderZero},
        {"a propagation from a thread in no group", events.orphanedChildren},
        {"thirty groups with members at once", events.thirtyLiveContexts},
        {"an operation given hash 0", result.hashZeroOperations},
        {"a lookup finding a uid", result.lookupsWithUid},
    };
    for (const Corner& corner : corners) {
        EXPECT_GT(corner.count, 0) << "seed " << seed << " never reached " << corner.name;
    }
}

TEST(UidTableModel, TableAgreesWithModelOverSeededSequences) {
    for (std::uint32_t seed : seedsToRun()) {
        std::vector<TableOp> ops = randomTableOps(seed, kOpsPerSeed);
        DriveResult result = driveTableAndModel(ops, realUidTable());
        if (!result.agreed) {
            ADD_FAILURE() << "seed " << seed << " (rerun with VESK_MODEL_SEED=" << seed << "): "
                          << describeFailure(ops, realUidTable());
            continue;
        }
        expectCornersReached(result, seed);
    }
}

// Faulty tables that the comparison must catch, each with a short replayable case.
void propagateEvictingFromFullGroup(UidTable& table, ThreadHash parent, ThreadHash child) {
    propagateUid(table, parent, child);
    if (parent == 0 || child == 0 || lookupUid(table, child) != 0) return;
    for (UidRecord& record : table.records) {
        for (ThreadHash& slot : record.slots) {
            if (slot == parent) {
                record.slots[UID_SLOT_COUNT - 1] = child;
                return;
            }
        }
    }
}

// Registration under uid 0 taken as "nothing to do": the thread keeps the
// context it had, where 0 must leave it with none.
void registerZeroKeepingTheOldContext(UidTable& table, ThreadHash hash, std::int32_t uid) {
    if (uid == 0) return;
    registerThread(table, hash, uid);
}

std::int32_t lookupIgnoringLastRecord(const UidTable& table, ThreadHash hash) {
    for (const ThreadHash slot : table.records[UID_RECORD_COUNT - 1].slots) {
        if (hash != 0 && slot == hash) return 0;
    }
    return lookupUid(table, hash);
}

// Hash 0 taken for a thread: it matches the first empty slot.
std::int32_t lookupMatchingEmptySlots(const UidTable& table, ThreadHash hash) {
    for (const UidRecord& record : table.records) {
        for (ThreadHash slot : record.slots) {
            if (slot == hash) return record.uid;
        }
    }
    return 0;
}

struct FaultyTable {
    const char* name;
    const char* fault;
    TableUnderTest table;
    std::size_t shortestCase;   // operations in the shortest sequence that shows the fault
};

void PrintTo(const FaultyTable& faulty, std::ostream* out) { *out << faulty.fault; }

class UidTableModelCatches : public ::testing::TestWithParam<FaultyTable> {};

TEST_P(UidTableModelCatches, FaultWithAShortCase) {
    const FaultyTable& faulty = GetParam();
    // The first of the seeds that the model test runs to catch the fault.
    std::vector<TableOp> ops;
    DriveResult result;
    for (std::uint32_t seed : seedsToRun()) {
        ops = randomTableOps(seed, kOpsPerSeed);
        result = driveTableAndModel(ops, faulty.table);
        if (!result.agreed) break;
    }
    ASSERT_FALSE(result.agreed) << faulty.fault << " went unnoticed";

    std::vector<TableOp> shortest = shrinkFailingOps(ops, faulty.table);
    DriveResult replay = driveTableAndModel(shortest, faulty.table);
    EXPECT_FALSE(replay.agreed) << "the shrunk case no longer fails:\n" << describeOps(shortest);
    EXPECT_EQ(replay.failedAt + 1, shortest.size()) << "the shrunk case runs on past its failure";
    EXPECT_LE(shortest.size(), faulty.shortestCase) << describeOps(shortest);
    // No single operation can be dropped: the case is as short as dropping finds.
    for (std::size_t i = 0; i < shortest.size(); ++i) {
        std::vector<TableOp> fewer = shortest;
        fewer.erase(fewer.begin() + static_cast<std::ptrdiff_t>(i));
        EXPECT_TRUE(driveTableAndModel(fewer, faulty.table).agreed) << "operation " << i + 1 << " is not needed:\n"
                                                                    << describeOps(shortest);
    }
}

TableUnderTest withPropagate(void (*propagate)(UidTable&, ThreadHash, ThreadHash)) {
    TableUnderTest table = realUidTable();
    table.propagateUid = propagate;
    return table;
}

TableUnderTest withRegister(void (*registerFn)(UidTable&, ThreadHash, std::int32_t)) {
    TableUnderTest table = realUidTable();
    table.registerThread = registerFn;
    return table;
}

TableUnderTest withLookup(std::int32_t (*lookup)(const UidTable&, ThreadHash)) {
    TableUnderTest table = realUidTable();
    table.lookupUid = lookup;
    return table;
}

// The shortest cases: a full group is its registrant, 57 more members and one
// thread too many; a registration under 0 that keeps the old context shows in
// register(T, uid), register(T, 0);
// the last record takes thirty registrations under distinct uids; one
// registration leaves empty slots for hash 0 to find.
const FaultyTable kFaultyTables[] = {
    {"FullGroupEvicts", "a full group evicting a member", withPropagate(propagateEvictingFromFullGroup), 59},
    {"ZeroKeepsOldContext", "a registration under 0 keeping the old context",
     withRegister(registerZeroKeepingTheOldContext), 2},
    {"LookupMissesLastRecord", "lookups missing the thirtieth record", withLookup(lookupIgnoringLastRecord), 30},
    {"HashZeroMatchesEmptySlot", "hash 0 matching an empty slot", withLookup(lookupMatchingEmptySlots), 1},
};

INSTANTIATE_TEST_SUITE_P(FaultyTables, UidTableModelCatches, ::testing::ValuesIn(kFaultyTables),
                         [](const ::testing::TestParamInfo<FaultyTable>& p) { return std::string(p.param.name); });

}  // namespace
