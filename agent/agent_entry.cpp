// The library's exported face: the load sequence and the empty unload.
#include <cstdio>
#include <cstring>

#include <jvmti.h>

#include "agent/agent_capabilities.h"
#include "agent/agent_state.h"
#include "agent/event_switch.h"
#include "handlers/method_entry.h"
#include "handlers/method_exit.h"

namespace {

jint refuseLoad(const char* message) {
    std::fputs(message, stdout);
    std::fflush(stdout);
    return JNI_ERR;
}

}  // namespace

extern "C" JNIEXPORT jint JNICALL Agent_OnLoad(JavaVM* vm, char* /*options*/, void* /*reserved*/) {
    clearUidTable(agentState.uidTable);

    jvmtiEnv* jvmti = nullptr;
    jint got = vm->GetEnv(reinterpret_cast<void**>(&jvmti), JVMTI_VERSION_1_0);
    agentState.jvmti = jvmti;
    if (got != JNI_OK || jvmti == nullptr) return refuseLoad("ERROR: Unable to access JVMTI!");

    agentState.capabilities = agentCapabilities();
    if (jvmti->AddCapabilities(&agentState.capabilities) != JVMTI_ERROR_NONE) {
        return refuseLoad("ERROR: Can't get JVMTI capabilities");
    }

    jvmtiEventCallbacks callbacks;
    std::memset(&callbacks, 0, sizeof callbacks);
    callbacks.ThreadStart = onThreadStart;
    callbacks.ThreadEnd = onThreadEnd;
    callbacks.MethodEntry = onMethodEntry;
    callbacks.MethodExit = onMethodExit;
    if (jvmti->SetEventCallbacks(&callbacks, static_cast<jint>(sizeof callbacks)) != JVMTI_ERROR_NONE) {
        return refuseLoad("ERROR: Can't set jvmti callback!");
    }

    if (jvmti->CreateRawMonitor("Vesk", &agentState.agentRawMonitor) != JVMTI_ERROR_NONE) {
        return refuseLoad("ERROR: Can't create raw monitor!");
    }

    // Method events stay off until the first thread start switches them on.
    jvmti->SetEventNotificationMode(JVMTI_ENABLE, JVMTI_EVENT_THREAD_START, nullptr);
    jvmti->SetEventNotificationMode(JVMTI_ENABLE, JVMTI_EVENT_THREAD_END, nullptr);
    return JNI_OK;
}

extern "C" JNIEXPORT void JNICALL Agent_OnUnload(JavaVM* /*vm*/) {}
