#include "agent/fatal_report.h"

#include <cstdio>
#include <cstdlib>

#include "agent/agent_state.h"

namespace {

// exit() flushes standard output, so the report reaches a file or pipe too.
[[noreturn]] void endProcess() {
    std::fflush(stdout);
    std::exit(-1);
}

}  // namespace

void lockAgent() {
    checkToolCall(agentState.jvmti->RawMonitorEnter(agentState.agentRawMonitor), "RawMonitorEnter");
}

void unlockAgent() {
    checkToolCall(agentState.jvmti->RawMonitorExit(agentState.agentRawMonitor), "RawMonitorExit");
}

void abortOnToolError(const char* operationWord, int errorCode) {
    std::printf("[Vesk] ERROR: can't %s, error code:%d\n", operationWord, errorCode);
    endProcess();
}

void abortOnNoMemory() {
    std::printf("[Vesk] FATAL ERROR: %s!", "can't alloc mem");
    endProcess();
}
