// The fuzzer's byte decoding and driver over fixed inputs, so that a build
// without libFuzzer still runs them.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "uid_table_driver.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Byte values of the decoding: operation kinds and indexes into the hash and uid lists.
constexpr std::uint8_t kRegister = 0;
constexpr std::uint8_t kPropagate = 1;
constexpr std::uint8_t kRemove = 2;
constexpr std::uint8_t kLookup = 3;

Bytes fullGroupThenOneMore() {
    Bytes bytes{kRegister, 5, 9};
    for (std::uint8_t child = 6; child < 6 + UID_SLOT_COUNT; ++child) {
        bytes.insert(bytes.end(), {kPropagate, 5, child});
    }
    return bytes;
}

Bytes fullTableThenEmptied() {
    Bytes bytes;
    for (std::uint8_t i = 1; i <= 34; ++i) bytes.insert(bytes.end(), {kRegister, i, i});
    for (std::uint8_t i = 1; i <= 30; i += 3) bytes.insert(bytes.end(), {kRemove, i, 0});
    for (std::uint8_t i = 35; i <= 40; ++i) bytes.insert(bytes.end(), {kRegister, i, i});
    return bytes;
}

Bytes everyByteValue() {
    Bytes bytes;
    for (int value = 0; value < 256; ++value) bytes.push_back(static_cast<std::uint8_t>(value));
    return bytes;
}

TEST(UidTableBytes, DecodesThreeBytesPerOperationOverTheProbeLists) {
    const Bytes bytes{kRegister, 1, 5, kPropagate, 0, 72 + 2, kRemove, 3, 99, kLookup + 4, 4, 0, kRegister, 1};
    std::vector<TableOp> ops = tableOpsFromBytes(bytes.data(), bytes.size());
    ASSERT_EQ(ops.size(), 4u) << "a two-byte tail is no operation";
    EXPECT_EQ(ops[0].kind, TableOpKind::registerThread);
    EXPECT_EQ(ops[0].hash, probeHashes()[1]);
    EXPECT_EQ(ops[0].arg, probeUids()[5]);
    EXPECT_EQ(ops[1].kind, TableOpKind::propagateUid);
    EXPECT_EQ(ops[1].hash, 0);
    EXPECT_EQ(ops[1].arg, probeHashes()[2]) << "indexes wrap around the hash list";
    EXPECT_EQ(ops[2].kind, TableOpKind::removeThread);
    EXPECT_EQ(ops[2].arg, 0);
    EXPECT_EQ(ops[3].kind, TableOpKind::lookupUid) << "kinds wrap around the four operations";
}

struct BytesCase {
    const char* name;
    Bytes bytes;
    long ModelEvents::*reached;   // a corner the input must reach, or null
};
void PrintTo(const BytesCase& c, std::ostream* out) { *out << c.name; }

class UidTableBytesAgree : public ::testing::TestWithParam<BytesCase> {};

TEST_P(UidTableBytesAgree, TableAgreesWithModel) {
    const BytesCase& input = GetParam();
    std::vector<TableOp> ops = tableOpsFromBytes(input.bytes.data(), input.bytes.size());
    DriveResult result = driveTableAndModel(ops, realUidTable());
    EXPECT_TRUE(result.agreed) << describeFailure(ops, realUidTable());
    if (input.reached != nullptr) {
        EXPECT_GT(result.events.*input.reached, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    FixedInputs, UidTableBytesAgree,
    ::testing::Values(BytesCase{"Empty", {}, nullptr},
                      BytesCase{"EveryByteValue", everyByteValue(), nullptr},
                      BytesCase{"HashZeroEverywhere",
                                {kRegister, 0, 5, kRegister, 4, 0, kPropagate, 0, 4, kPropagate, 4, 0, kRemove, 0, 0,
                                 kLookup, 0, 0, kRegister, 4, 5, kPropagate, 4, 0, kLookup, 0, 0},
                                &ModelEvents::registrations},
                      BytesCase{"FullGroupThenOneMore", fullGroupThenOneMore(), &ModelEvents::fullGroupsTurnedAway},
                      BytesCase{"FullTableThenEmptied", fullTableThenEmptied(), &ModelEvents::emptyRecordsReclaimed}),
    [](const ::testing::TestParamInfo<BytesCase>& p) { return std::string(p.param.name); });

}  // namespace
