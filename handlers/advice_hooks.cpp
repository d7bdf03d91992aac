#include "handlers/advice_hooks.h"

#include "agent/agent_state.h"
#include "agent/fatal_report.h"
#include "handlers/thread_identity.h"

namespace {
constexpr jint ADVICE_SLOT = 1;
}

void onBeforeAdvice(jthread thread, const char* name, ThreadHash hash) {
    if (!isNamed(name, "beforeAdvice")) return;
    jint uid = 0;
    checkToolCall(agentState.jvmti->GetLocalInt(thread, 0, ADVICE_SLOT, &uid), "GetLocalObjectUid");
    registerThread(agentState.uidTable, hash, uid);
}

void onAfterAdvice(jthread thread, const char* name, ThreadHash hash) {
    if (!isNamed(name, "afterAdvice")) return;
    jint uid = lookupUid(agentState.uidTable, hash);
    checkToolCall(agentState.jvmti->SetLocalInt(thread, 0, ADVICE_SLOT, uid), "SetLocalObjectUid");
}
