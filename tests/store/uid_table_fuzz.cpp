// libFuzzer entry: bytes become table operations; any disagreement with the
// model prints the shortest failing sequence and aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "uid_table_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<TableOp> ops = tableOpsFromBytes(data, size);
    if (!driveTableAndModel(ops, realUidTable()).agreed) {
        std::fprintf(stderr, "%s", describeFailure(ops, realUidTable()).c_str());
        std::abort();
    }
    return 0;
}
