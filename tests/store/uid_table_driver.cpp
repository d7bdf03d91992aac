#include "uid_table_driver.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>

namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

// Enough threads that one group can fill its 58 slots with some left over.
std::vector<ThreadHash> makeProbeHashes() {
    std::vector<ThreadHash> hashes{0, -1, kMin, kMax};
    for (ThreadHash hash = 1; hash <= 68; ++hash) hashes.push_back(hash);
    return hashes;
}

// More uids than records, so that the table fills and turns registrations away.
std::vector<std::int32_t> makeProbeUids() {
    std::vector<std::int32_t> uids{0, -3, kMin, kMax};
    for (std::int32_t uid = 1; uid <= 36; ++uid) uids.push_back(uid);
    return uids;
}

std::string describeOp(const TableOp& op) {
    std::ostringstream out;
    switch (op.kind) {
    case TableOpKind::registerThread: out << "registerThread(" << op.hash << ", " << op.arg << ")"; break;
    case TableOpKind::propagateUid: out << "propagateUid(" << op.hash << ", " << op.arg << ")"; break;
    case TableOpKind::removeThread: out << "removeThread(" << op.hash << ")"; break;
    case TableOpKind::lookupUid: out << "lookupUid(" << op.hash << ")"; break;
    }
    return out.str();
}

bool touchesHashZero(const TableOp& op) {
    return op.hash == 0 || (op.kind == TableOpKind::propagateUid && op.arg == 0);
}

class OpMaker {
public:
    explicit OpMaker(std::uint32_t seed) : random_(seed) {}

    ThreadHash anyHash() { return pick(probeHashes()); }
    std::int32_t anyUid() { return pick(probeUids()); }
    bool chance(int percent) { return below(100) < static_cast<std::size_t>(percent); }
    std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_); }
    std::mt19937& engine() { return random_; }

private:
    template <typename T>
    T pick(const std::vector<T>& values) {
        return values[below(values.size())];
    }
    std::mt19937 random_;
};

void addLookup(OpMaker& maker, std::vector<TableOp>& ops) {
    ops.push_back({TableOpKind::lookupUid, maker.anyHash(), 0});
}

// Any operation on any thread.
void addMixedPhase(OpMaker& maker, std::vector<TableOp>& ops, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        std::size_t roll = maker.below(100);
        if (roll < 20) ops.push_back({TableOpKind::registerThread, maker.anyHash(), maker.anyUid()});
        else if (roll < 65) ops.push_back({TableOpKind::propagateUid, maker.anyHash(), maker.anyHash()});
        else if (roll < 75) ops.push_back({TableOpKind::removeThread, maker.anyHash(), 0});
        else addLookup(maker, ops);
    }
}

// One thread registers, then it and the threads it reached start others, so the
// group grows past its 58 slots. Mostly every thread ends first, so that the
// registration finds a record even after the table filled.
void addGrowPhase(OpMaker& maker, std::vector<TableOp>& ops) {
    std::vector<ThreadHash> hashes = probeHashes();
    std::shuffle(hashes.begin(), hashes.end(), maker.engine());
    if (maker.chance(75)) {
        for (ThreadHash hash : hashes) ops.push_back({TableOpKind::removeThread, hash, 0});
    }
    std::int32_t uid = maker.anyUid();
    ops.push_back({TableOpKind::registerThread, hashes[0], uid == 0 ? 1 : uid});
    std::vector<ThreadHash> reached{hashes[0]};
    // Enough distinct children to fill the group and have some turned away.
    std::size_t children = UID_SLOT_COUNT + 2 + maker.below(hashes.size() - UID_SLOT_COUNT - 2);
    for (std::size_t i = 1; i <= children; ++i) {
        if (maker.chance(15)) addLookup(maker, ops);
        ops.push_back({TableOpKind::propagateUid, reached[maker.below(reached.size())], hashes[i]});
        reached.push_back(hashes[i]);
    }
}

// Distinct threads register under distinct uids, more uids than records.
void addFillPhase(OpMaker& maker, std::vector<TableOp>& ops) {
    std::vector<ThreadHash> hashes = probeHashes();
    std::vector<std::int32_t> uids = probeUids();
    std::shuffle(hashes.begin(), hashes.end(), maker.engine());
    std::shuffle(uids.begin(), uids.end(), maker.engine());
    std::size_t count = UID_RECORD_COUNT + 4 + maker.below(uids.size() - UID_RECORD_COUNT - 3);
    for (std::size_t i = 0; i < count; ++i) {
        ops.push_back({TableOpKind::registerThread, hashes[i], uids[i]});
        if (maker.chance(30)) addLookup(maker, ops);
    }
}

// Threads end: groups empty and their records can serve other uids.
void addDrainPhase(OpMaker& maker, std::vector<TableOp>& ops, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        if (maker.chance(25)) addLookup(maker, ops);
        else if (maker.chance(15)) ops.push_back({TableOpKind::registerThread, maker.anyHash(), maker.anyUid()});
        else ops.push_back({TableOpKind::removeThread, maker.anyHash(), 0});
    }
}

// Hash 0 and uid 0 in every role.
void addZeroPhase(OpMaker& maker, std::vector<TableOp>& ops, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        switch (maker.below(6)) {
        case 0: ops.push_back({TableOpKind::registerThread, 0, maker.anyUid()}); break;
        case 1: {
            // A thread without a context starting another.
            ThreadHash hash = maker.anyHash();
            ops.push_back({TableOpKind::registerThread, hash, 0});
            ops.push_back({TableOpKind::propagateUid, hash, maker.anyHash()});
            break;
        }
        case 2: ops.push_back({TableOpKind::propagateUid, 0, maker.anyHash()}); break;
        case 3: ops.push_back({TableOpKind::propagateUid, maker.anyHash(), 0}); break;
        case 4: ops.push_back({TableOpKind::removeThread, 0, 0}); break;
        default: ops.push_back({TableOpKind::lookupUid, 0, 0}); break;
        }
        if (maker.chance(50)) addMixedPhase(maker, ops, 1);
    }
}

std::string disagreement(const char* what, ThreadHash hash, std::int32_t tableUid, std::int32_t modelUid) {
    std::ostringstream out;
    out << what << " of " << hash << ": table says " << tableUid << ", model says " << modelUid;
    return out.str();
}

// The first probe hash that the table and the model look up differently, or "".
std::string probeMismatch(const TableUnderTest& table, const UidTable& real, const UidTableModel& model,
                          const std::vector<ThreadHash>& probes) {
    std::map<ThreadHash, std::int32_t> modelUids = modelUidsOfMembers(model);
    for (ThreadHash hash : probes) {
        std::int32_t tableUid = table.lookupUid(real, hash);
        auto member = modelUids.find(hash);
        std::int32_t modelUid = member == modelUids.end() ? 0 : member->second;
        if (tableUid != modelUid) return disagreement("afterwards, lookupUid", hash, tableUid, modelUid);
    }
    return "";
}

// Hash 0 and every hash the operations name: no other can stand in the table.
std::vector<ThreadHash> hashesNamedBy(const std::vector<TableOp>& ops) {
    std::set<ThreadHash> named{0};
    for (const TableOp& op : ops) {
        named.insert(op.hash);
        if (op.kind == TableOpKind::propagateUid) named.insert(op.arg);
    }
    return std::vector<ThreadHash>(named.begin(), named.end());
}

std::vector<TableOp> without(const std::vector<TableOp>& ops, std::size_t from, std::size_t count) {
    std::vector<TableOp> kept(ops.begin(), ops.begin() + static_cast<std::ptrdiff_t>(from));
    kept.insert(kept.end(), ops.begin() + static_cast<std::ptrdiff_t>(std::min(ops.size(), from + count)), ops.end());
    return kept;
}

}  // namespace

TableUnderTest realUidTable() {
    return TableUnderTest{registerThread, propagateUid, removeThread, lookupUid};
}

const std::vector<ThreadHash>& probeHashes() {
    static const std::vector<ThreadHash> hashes = makeProbeHashes();
    return hashes;
}

const std::vector<std::int32_t>& probeUids() {
    static const std::vector<std::int32_t> uids = makeProbeUids();
    return uids;
}

DriveResult driveTableAndModel(const std::vector<TableOp>& ops, const TableUnderTest& table, ProbeLookups probes) {
    auto real = std::make_unique<UidTable>();
    clearUidTable(*real);
    UidTableModel model;
    DriveResult result;
    const std::vector<ThreadHash> named = hashesNamedBy(ops);
    for (std::size_t i = 0; i < ops.size(); ++i) {
        const TableOp& op = ops[i];
        std::string mismatch;
        if (touchesHashZero(op)) ++result.hashZeroOperations;
        switch (op.kind) {
        case TableOpKind::registerThread:
            table.registerThread(*real, op.hash, op.arg);
            modelRegisterThread(model, op.hash, op.arg);
            break;
        case TableOpKind::propagateUid:
            table.propagateUid(*real, op.hash, op.arg);
            modelPropagateUid(model, op.hash, op.arg);
            break;
        case TableOpKind::removeThread:
            table.removeThread(*real, op.hash);
            modelRemoveThread(model, op.hash);
            break;
        case TableOpKind::lookupUid: {
            std::int32_t tableUid = table.lookupUid(*real, op.hash);
            std::int32_t modelUid = modelLookupUid(model, op.hash);
            if (modelUid != 0) ++result.lookupsWithUid;
            if (tableUid != modelUid) mismatch = disagreement("lookupUid", op.hash, tableUid, modelUid);
            break;
        }
        }
        modelNoteLiveContexts(model);
        // A lookup changes nothing, so the probes after it would find what they found before.
        bool changed = op.kind != TableOpKind::lookupUid || i == 0;
        if (mismatch.empty() && ((probes == ProbeLookups::afterEach && changed) || i + 1 == ops.size())) {
            mismatch = probeMismatch(table, *real, model, named);
        }
        if (!mismatch.empty()) {
            result.agreed = false;
            result.failedAt = i;
            result.mismatch = mismatch;
            break;
        }
    }
    result.events = model.events;
    return result;
}

std::vector<TableOp> shrinkFailingOps(const std::vector<TableOp>& ops, const TableUnderTest& table) {
    DriveResult first = driveTableAndModel(ops, table);
    if (first.agreed) return ops;
    std::vector<TableOp> failing(ops.begin(), ops.begin() + static_cast<std::ptrdiff_t>(first.failedAt + 1));
    // Drop ever smaller runs of operations; a candidate that still fails is cut
    // to its own failing prefix. Bounded, so that a hard case still reports.
    long budget = 20000;
    std::size_t chunk = std::max<std::size_t>(failing.size() / 2, 1);
    bool droppedAtOne = true;
    while (budget > 0 && (chunk > 1 || droppedAtOne)) {
        bool dropped = false;
        for (std::size_t from = 0; from < failing.size() && budget > 0; --budget) {
            std::vector<TableOp> candidate = without(failing, from, chunk);
            // Long runs are dropped on the cheaper test; single operations only
            // where no step of the rest fails.
            ProbeLookups probes = chunk > 1 ? ProbeLookups::afterLast : ProbeLookups::afterEach;
            if (driveTableAndModel(candidate, table, probes).agreed) {
                from += chunk;
                continue;
            }
            candidate.resize(driveTableAndModel(candidate, table).failedAt + 1);
            failing = candidate;
            dropped = true;
        }
        if (chunk == 1) droppedAtOne = dropped;
        else chunk = std::max<std::size_t>(chunk / 2, 1);
    }
    return failing;
}

std::vector<TableOp> randomTableOps(std::uint32_t seed, std::size_t count) {
    OpMaker maker(seed);
    std::vector<TableOp> ops;
    // Rounds of every phase in a shuffled order, so that each corner comes up
    // in every few hundred operations.
    int phases[] = {0, 1, 2, 3, 4, 4};
    // uid 0 and hash 0 first too, while the table still has free records.
    addMixedPhase(maker, ops, 10 + maker.below(20));
    addZeroPhase(maker, ops, 10 + maker.below(10));
    while (ops.size() < count) {
        std::shuffle(std::begin(phases), std::end(phases), maker.engine());
        for (int phase : phases) {
            switch (phase) {
            case 0: addGrowPhase(maker, ops); break;
            case 1: addFillPhase(maker, ops); break;
            case 2: addDrainPhase(maker, ops, 20 + maker.below(80)); break;
            case 3: addZeroPhase(maker, ops, 5 + maker.below(20)); break;
            default: addMixedPhase(maker, ops, 30 + maker.below(100)); break;
            }
        }
    }
    ops.resize(count);
    return ops;
}

std::vector<TableOp> tableOpsFromBytes(const std::uint8_t* data, std::size_t size) {
    const std::vector<ThreadHash>& hashes = probeHashes();
    const std::vector<std::int32_t>& uids = probeUids();
    std::vector<TableOp> ops;
    for (std::size_t at = 0; at + 3 <= size; at += 3) {
        TableOpKind kind = static_cast<TableOpKind>(data[at] % 4);
        ThreadHash hash = hashes[data[at + 1] % hashes.size()];
        std::int32_t arg = 0;
        if (kind == TableOpKind::registerThread) arg = uids[data[at + 2] % uids.size()];
        else if (kind == TableOpKind::propagateUid) arg = hashes[data[at + 2] % hashes.size()];
        ops.push_back({kind, hash, arg});
    }
    return ops;
}

std::string describeOps(const std::vector<TableOp>& ops) {
    std::string text;
    for (const TableOp& op : ops) text += "  " + describeOp(op) + ";\n";
    return text;
}

std::string describeFailure(const std::vector<TableOp>& ops, const TableUnderTest& table) {
    std::vector<TableOp> shortest = shrinkFailingOps(ops, table);
    DriveResult result = driveTableAndModel(shortest, table);
    std::ostringstream out;
    out << "table and model disagree after operation " << result.failedAt + 1 << " of " << shortest.size()
        << " (" << result.mismatch << "), from a fresh table:\n"
        << describeOps(shortest);
    return out.str();
}
