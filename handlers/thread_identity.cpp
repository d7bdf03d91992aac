#include "handlers/thread_identity.h"

#include "agent/agent_state.h"
#include "agent/fatal_report.h"

ThreadHash hashOfObject(jobject object) {
    jint hash = 0;
    checkToolCall(agentState.jvmti->GetObjectHashCode(object, &hash), "GetObjectHashCode");
    return hash;
}

bool getMethodNames(jmethodID method, MethodNames* names) {
    *names = MethodNames{nullptr, nullptr, nullptr};
    jvmtiError error = agentState.jvmti->GetMethodName(method, &names->name, &names->signature,
                                                       &names->genericSignature);
    if (error == JVMTI_ERROR_WRONG_PHASE) return false;
    checkToolCall(error, "GetMethodName");
    return true;
}

bool hashOfEventThread(jthread thread, ThreadHash* hash) {
    *hash = 0;
    jvmtiError error = agentState.jvmti->GetObjectHashCode(thread, hash);
    if (error == JVMTI_ERROR_WRONG_PHASE) return false;
    checkToolCall(error, "GetObjectHashCode");
    return true;
}

void deallocate(void* memory) {
    checkToolCall(agentState.jvmti->Deallocate(static_cast<unsigned char*>(memory)), "Deallocate");
}

void releaseMethodNames(const MethodNames& names, bool keepName) {
    if (!keepName) deallocate(names.name);
    deallocate(names.signature);
    deallocate(names.genericSignature);
}
