#include "handlers/thread_identity.h"

#include "agent/agent_state.h"
#include "agent/fatal_report.h"

ThreadHash hashOfObject(jobject object) {
    jint hash = 0;
    checkToolCall(agentState.jvmti->GetObjectHashCode(object, &hash), "GetObjectHashCode");
    return hash;
}

bool beginMethodEvent(jthread thread, jmethodID method, MethodEvent* event) {
    lockAgent();
    MethodNames& names = event->names;
    names = MethodNames{nullptr, nullptr, nullptr};
    jvmtiError error = agentState.jvmti->GetMethodName(method, &names.name, &names.signature,
                                                       &names.genericSignature);
    if (error == JVMTI_ERROR_WRONG_PHASE) {
        unlockAgent();
        return false;
    }
    checkToolCall(error, "GetMethodName");
    event->threadHash = hashOfObject(thread);
    return true;
}

void endMethodEvent(const MethodEvent& event, bool keepName) {
    if (!keepName) deallocate(event.names.name);
    deallocate(event.names.signature);
    deallocate(event.names.genericSignature);
    unlockAgent();
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
