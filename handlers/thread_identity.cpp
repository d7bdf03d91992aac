#include "handlers/thread_identity.h"

#include "agent/agent_state.h"
#include "agent/fatal_report.h"

ThreadHash hashOfObject(jobject object) {
    jint hash = 0;
    checkToolCall(agentState.jvmti->GetObjectHashCode(object, &hash), "GetObjectHashCode");
    return hash;
}

MethodNames getMethodNames(jmethodID method) {
    MethodNames names{nullptr, nullptr, nullptr};
    checkToolCall(agentState.jvmti->GetMethodName(method, &names.name, &names.signature, &names.genericSignature),
                  "GetMethodName");
    return names;
}

void deallocate(void* memory) {
    checkToolCall(agentState.jvmti->Deallocate(static_cast<unsigned char*>(memory)), "Deallocate");
}

void releaseMethodNames(const MethodNames& names, bool keepName) {
    if (!keepName) deallocate(names.name);
    deallocate(names.signature);
    deallocate(names.genericSignature);
}
