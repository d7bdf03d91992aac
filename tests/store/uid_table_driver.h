// Drives the uid table and its reference model through the same operations and
// reports the first place where they disagree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "store/uid_table.h"
#include "uid_table_model.h"

enum class TableOpKind : std::uint8_t { registerThread, propagateUid, removeThread, lookupUid };

// registerThread(hash, arg = uid), propagateUid(hash = parent, arg = child),
// removeThread(hash), lookupUid(hash).
struct TableOp {
    TableOpKind kind;
    ThreadHash hash;
    std::int32_t arg;
};

// The table under test; a test swaps in a faulty one to see that the driver catches it.
struct TableUnderTest {
    void (*registerThread)(UidTable&, ThreadHash, std::int32_t);
    void (*propagateUid)(UidTable&, ThreadHash, ThreadHash);
    void (*removeThread)(UidTable&, ThreadHash);
    std::int32_t (*lookupUid)(const UidTable&, ThreadHash);
};

TableUnderTest realUidTable();

// Every hash the operations are made of (0 and the extremes among them). After
// each operation the driver compares the lookup of each that the sequence names.
const std::vector<ThreadHash>& probeHashes();
// Every uid the operations use: more than there are records, 0 among them.
const std::vector<std::int32_t>& probeUids();

struct DriveResult {
    bool agreed = true;
    std::size_t failedAt = 0;   // index of the operation after which they first differed
    std::string mismatch;       // what differed
    ModelEvents events;
    long hashZeroOperations = 0;
    long lookupsWithUid = 0;
};

// When lookups of every probe hash are compared: after each operation, or only
// after the last (cheaper, for trying out candidates while shrinking).
enum class ProbeLookups { afterEach, afterLast };

DriveResult driveTableAndModel(const std::vector<TableOp>& ops, const TableUnderTest& table,
                               ProbeLookups probes = ProbeLookups::afterEach);

// A short failing sequence found from a failing one: the prefix up to the first
// disagreement, then with every operation dropped that the failure does not need.
std::vector<TableOp> shrinkFailingOps(const std::vector<TableOp>& ops, const TableUnderTest& table);

// Seeded sequences that wander into full groups, a full table, emptied records,
// re-registration, uid 0 and hash 0.
std::vector<TableOp> randomTableOps(std::uint32_t seed, std::size_t count);

// Three bytes per operation: kind, hash, uid or child; a short tail is ignored.
std::vector<TableOp> tableOpsFromBytes(const std::uint8_t* data, std::size_t size);

std::string describeOps(const std::vector<TableOp>& ops);
// Everything a developer needs to replay a failure: the cause and the sequence.
std::string describeFailure(const std::vector<TableOp>& ops, const TableUnderTest& table);
