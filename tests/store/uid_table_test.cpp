// The uid table: groups of threads by uid in thirty records of 58 slots.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "store/uid_table.h"

namespace {

constexpr ThreadHash T = 101, U = 102, V = 103, W = 104, X = 105;

struct Expected {
    ThreadHash hash;
    std::int32_t uid;
};

class UidTableTest : public ::testing::Test {
protected:
    UidTableTest() : table_(std::make_unique<UidTable>()) {
        // Garbage first: the table must not depend on being zero before it is cleared.
        std::memset(table_.get(), 0x5a, sizeof(UidTable));
        clearUidTable(*table_);
    }

    UidTable& table() { return *table_; }
    const UidRecord& record(int index) { return table_->records[index]; }

    void expectLookups(std::initializer_list<Expected> expected) {
        for (const Expected& e : expected) {
            EXPECT_EQ(lookupUid(table(), e.hash), e.uid) << "lookupUid(" << e.hash << ")";
        }
    }

    // Hashes from `first` on, one per thread, as the group of parent grows.
    void propagateFrom(ThreadHash parent, ThreadHash first, int count) {
        for (int i = 0; i < count; ++i) propagateUid(table(), parent, first + i);
    }

    // Threads 1000 + i registered under uid 500 + i for i in [0, 30): every record live.
    void claimEveryRecord() {
        for (int i = 0; i < UID_RECORD_COUNT; ++i) registerThread(table(), 1000 + i, 500 + i);
    }

    int slotsHolding(ThreadHash hash) {
        int count = 0;
        for (const UidRecord& r : table_->records) {
            for (ThreadHash slot : r.slots) count += slot == hash ? 1 : 0;
        }
        return count;
    }

private:
    std::unique_ptr<UidTable> table_;
};

// Short scenarios that end in lookups.
struct Step {
    enum Kind { reg, prop, rem } kind;
    ThreadHash hash;
    std::int32_t arg;   // uid for reg, child for prop
};
struct LookupCase {
    const char* name;
    std::vector<Step> steps;
    std::vector<Expected> expected;
};
void PrintTo(const LookupCase& c, std::ostream* out) { *out << c.name; }

class UidTableLookups : public UidTableTest, public ::testing::WithParamInterface<LookupCase> {};

TEST_P(UidTableLookups, AfterSteps) {
    for (const Step& step : GetParam().steps) {
        switch (step.kind) {
        case Step::reg: registerThread(table(), step.hash, step.arg); break;
        case Step::prop: propagateUid(table(), step.hash, step.arg); break;
        case Step::rem: removeThread(table(), step.hash); break;
        }
    }
    for (const Expected& e : GetParam().expected) {
        EXPECT_EQ(lookupUid(table(), e.hash), e.uid) << "lookupUid(" << e.hash << ")";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, UidTableLookups,
    ::testing::Values(
        LookupCase{"FreshTableKnowsNobody", {}, {{T, 0}, {0, 0}}},
        LookupCase{"RegisteredThreadCarriesItsUid", {{Step::reg, T, 7}}, {{T, 7}, {U, 0}}},
        LookupCase{"NegativeAndExtremeValuesAreOrdinary",
                   {{Step::reg, -1, INT32_MIN}, {Step::prop, -1, INT32_MIN}, {Step::reg, INT32_MAX, -7}},
                   {{-1, INT32_MIN}, {INT32_MIN, INT32_MIN}, {INT32_MAX, -7}}},
        LookupCase{"NewRegistrantRestartsTheGroup", {{Step::reg, T, 7}, {Step::reg, U, 7}}, {{T, 0}, {U, 7}}},
        LookupCase{"ReRegistrationDropsPropagatedMembers",
                   {{Step::reg, T, 7}, {Step::prop, T, U}, {Step::prop, U, V}, {Step::reg, T, 7}},
                   {{T, 7}, {U, 0}, {V, 0}}},
        LookupCase{"RegisteringElsewhereLeavesTheOldGroupItsUid",
                   {{Step::reg, T, 7}, {Step::prop, T, U}, {Step::reg, T, 8}},
                   {{T, 8}, {U, 7}}},
        LookupCase{"PropagationMovesChildBetweenGroups",
                   {{Step::reg, T, 7}, {Step::reg, U, 8}, {Step::prop, U, V}, {Step::prop, T, V}},
                   {{V, 7}, {U, 8}}},
        LookupCase{"ChildOfParentInNoGroupLosesItsUid",
                   {{Step::reg, T, 7}, {Step::prop, U, T}},
                   {{T, 0}, {U, 0}}},
        LookupCase{"ParentPropagatingToItselfLeavesItsGroup",
                   {{Step::reg, T, 7}, {Step::prop, T, U}, {Step::prop, T, T}},
                   {{T, 0}, {U, 7}}},
        LookupCase{"GrandchildrenInheritThroughTheGroup",
                   {{Step::reg, T, 7}, {Step::prop, T, U}, {Step::prop, U, V}, {Step::prop, V, W}},
                   {{W, 7}}},
        LookupCase{"RemovedThreadKnowsNothingAndOthersKeepTheirs",
                   {{Step::reg, T, 7}, {Step::prop, T, U}, {Step::rem, T, 0}, {Step::prop, U, V}},
                   {{T, 0}, {U, 7}, {V, 7}}},
        // uid 0 is no context: the thread leaves its group and sits nowhere, so
        // its children have nothing to inherit.
        LookupCase{"RegisteringUnderZeroLeavesTheGroup",
                   {{Step::reg, T, 7}, {Step::prop, T, U}, {Step::reg, T, 0}, {Step::prop, T, V}},
                   {{T, 0}, {U, 7}, {V, 0}}},
        LookupCase{"ThreadsUnderZeroNeverPickUpALaterUid",
                   {{Step::reg, T, 0}, {Step::prop, T, U}, {Step::reg, V, 9}},
                   {{T, 0}, {U, 0}, {V, 9}}},
        // Hash 0 names no thread: it never matches an empty slot.
        LookupCase{"HashZeroLooksUpAsNoContext", {{Step::reg, T, 7}}, {{0, 0}}},
        LookupCase{"HashZeroIsNoParent", {{Step::reg, T, 7}, {Step::prop, T, U}, {Step::prop, 0, U}}, {{U, 0}}},
        LookupCase{"HashZeroIsNoChild",
                   {{Step::reg, T, 7}, {Step::prop, T, 0}, {Step::prop, T, U}},
                   {{T, 7}, {U, 7}, {0, 0}}},
        LookupCase{"RegisteringHashZeroRestartsTheGroupEmpty",
                   {{Step::reg, T, 7}, {Step::prop, T, U}, {Step::reg, 0, 7}},
                   {{T, 0}, {U, 0}, {0, 0}}},
        LookupCase{"RemovingHashZeroChangesNothing", {{Step::reg, T, 7}, {Step::rem, 0, 0}}, {{T, 7}}}),
    [](const ::testing::TestParamInfo<LookupCase>& p) { return std::string(p.param.name); });

TEST_F(UidTableTest, RegistrantSitsAloneInTheFirstSlotOfItsRecord) {
    registerThread(table(), T, 7);
    registerThread(table(), U, 8);
    EXPECT_EQ(record(0).uid, 7);
    EXPECT_EQ(record(0).slots[0], T);
    EXPECT_EQ(record(1).uid, 8) << "a second uid takes the next free record";
    EXPECT_EQ(record(1).slots[0], U);
    propagateFrom(T, 200, 3);
    registerThread(table(), V, 7);
    EXPECT_EQ(record(0).slots[0], V);
    for (int slot = 1; slot < UID_SLOT_COUNT; ++slot) EXPECT_EQ(record(0).slots[slot], 0) << "slot " << slot;
}

TEST_F(UidTableTest, PropagationFillsTheFirstHoleAndKeepsEachThreadInOneSlot) {
    registerThread(table(), T, 7);
    propagateFrom(T, 200, 4);   // slots 1..4 hold 200..203
    removeThread(table(), 201);
    EXPECT_EQ(record(0).slots[2], 0) << "removal leaves a hole";
    EXPECT_EQ(record(0).slots[3], 202) << "slots are not packed";
    propagateUid(table(), T, 203);   // already a member: it moves into the hole
    EXPECT_EQ(record(0).slots[2], 203);
    EXPECT_EQ(record(0).slots[4], 0);
    EXPECT_EQ(slotsHolding(203), 1);
    expectLookups({{203, 7}, {201, 0}});
}

TEST_F(UidTableTest, ClaimedRecordStartsEmpty) {
    // Leftovers in a free record, as an earlier registration under uid 0 once left them.
    table().records[0].slots[5] = U;
    table().records[0].slots[57] = V;
    registerThread(table(), T, 9);
    EXPECT_EQ(record(0).uid, 9);
    expectLookups({{T, 9}, {U, 0}, {V, 0}});
}

TEST_F(UidTableTest, FullGroupTurnsAwayOneThreadAndKeepsItsMembers) {
    registerThread(table(), T, 7);
    propagateFrom(T, 200, UID_SLOT_COUNT - 1);   // 58 members
    registerThread(table(), X, 8);
    propagateUid(table(), X, U);
    propagateUid(table(), T, U);   // from another group into the full one
    propagateUid(table(), 230, V);   // from a member too
    EXPECT_EQ(lookupUid(table(), U), 0) << "the thread turned away is in no group";
    EXPECT_EQ(slotsHolding(U), 0);
    EXPECT_EQ(lookupUid(table(), V), 0);
    EXPECT_EQ(lookupUid(table(), T), 7);
    for (ThreadHash member = 200; member < 200 + UID_SLOT_COUNT - 1; ++member) {
        ASSERT_EQ(lookupUid(table(), member), 7) << "member " << member;
    }
    expectLookups({{X, 8}});

    // A member propagated again frees its own slot first, so it stays.
    propagateUid(table(), T, 230);
    EXPECT_EQ(lookupUid(table(), 230), 7);

    // Once a member leaves, the next newcomer fits.
    removeThread(table(), 210);
    propagateUid(table(), T, U);
    expectLookups({{U, 7}, {210, 0}});
    propagateUid(table(), T, V);
    EXPECT_EQ(lookupUid(table(), V), 0);

    // Registering a new leader restarts the group with room for all.
    registerThread(table(), V, 7);
    propagateUid(table(), V, W);
    expectLookups({{V, 7}, {W, 7}, {T, 0}, {U, 0}});
}

TEST_F(UidTableTest, ThirtyContextsLiveAtOnce) {
    claimEveryRecord();
    for (int i = 0; i < UID_RECORD_COUNT; ++i) {
        propagateUid(table(), 1000 + i, 2000 + i);
    }
    for (int i = 0; i < UID_RECORD_COUNT; ++i) {
        EXPECT_EQ(lookupUid(table(), 1000 + i), 500 + i);
        EXPECT_EQ(lookupUid(table(), 2000 + i), 500 + i);
    }
}

TEST_F(UidTableTest, FullTableTurnsAwayANewUidWhileEveryGroupHasMembers) {
    claimEveryRecord();
    registerThread(table(), T, 1000 + 7);
    propagateUid(table(), T, U);
    expectLookups({{T, 0}, {U, 0}});

    propagateUid(table(), 1003, T);
    registerThread(table(), T, 999);   // a thread with a uid loses it, not gains another
    EXPECT_EQ(lookupUid(table(), T), 0);
    for (int i = 0; i < UID_RECORD_COUNT; ++i) ASSERT_EQ(lookupUid(table(), 1000 + i), 500 + i);
    registerThread(table(), T, 503);   // a claimed uid still works
    EXPECT_EQ(lookupUid(table(), T), 503);
}

TEST_F(UidTableTest, EmptiedRecordServesANewUidWhenNoneIsFree) {
    claimEveryRecord();
    removeThread(table(), 1011);   // records 11 and 20 empty
    removeThread(table(), 1020);
    registerThread(table(), T, 900);
    EXPECT_EQ(record(11).uid, 900) << "the first empty record, in index order";
    EXPECT_EQ(lookupUid(table(), T), 900);

    // uid 511 lost its record; registering under it takes the next empty one.
    registerThread(table(), U, 511);
    EXPECT_EQ(record(20).uid, 511);
    registerThread(table(), V, 901);
    expectLookups({{U, 511}, {V, 0}, {T, 900}});
    for (int i = 0; i < UID_RECORD_COUNT; ++i) {
        if (i != 11 && i != 20) {
            ASSERT_EQ(lookupUid(table(), 1000 + i), 500 + i);
        }
    }
}

TEST_F(UidTableTest, LoneMemberMovingToANewUidInAFullTableTakesItsOwnRecord) {
    claimEveryRecord();
    registerThread(table(), 1005, 900);   // its removal empties record 5
    EXPECT_EQ(record(5).uid, 900);
    EXPECT_EQ(lookupUid(table(), 1005), 900);
}

TEST_F(UidTableTest, RecordThatEmptiedKeepsItsUidWhileRecordsAreFree) {
    registerThread(table(), T, 7);
    removeThread(table(), T);
    registerThread(table(), U, 8);
    EXPECT_EQ(record(0).uid, 7) << "a free record is taken before an emptied one";
    EXPECT_EQ(record(1).uid, 8);
    registerThread(table(), V, 7);
    EXPECT_EQ(record(0).slots[0], V);
}

TEST_F(UidTableTest, RegisteringUnderZeroPlacesTheThreadNowhere) {
    registerThread(table(), T, 7);
    registerThread(table(), T, 0);
    EXPECT_EQ(slotsHolding(T), 0);
}

TEST_F(UidTableTest, RegisteringHashZeroClaimsARecordButPlacesNobody) {
    registerThread(table(), 0, 7);
    EXPECT_EQ(record(0).uid, 7);
    EXPECT_EQ(slotsHolding(0), UID_RECORD_COUNT * UID_SLOT_COUNT);
    registerThread(table(), T, 8);
    EXPECT_EQ(record(1).uid, 8);
}

TEST_F(UidTableTest, ClearForgetsEverything) {
    claimEveryRecord();
    clearUidTable(table());
    for (int i = 0; i < UID_RECORD_COUNT; ++i) ASSERT_EQ(record(i).uid, 0);
    EXPECT_EQ(slotsHolding(0), UID_RECORD_COUNT * UID_SLOT_COUNT);
    EXPECT_EQ(lookupUid(table(), 1000), 0);
}

TEST_F(UidTableTest, ClearUidSlotsEmptiesOnlyThatGroup) {
    registerThread(table(), T, 7);
    propagateUid(table(), T, U);
    registerThread(table(), V, 8);
    clearUidSlots(table(), 7);
    expectLookups({{T, 0}, {U, 0}, {V, 8}});
    EXPECT_EQ(record(0).uid, 7) << "the record keeps its uid";
}

}  // namespace
