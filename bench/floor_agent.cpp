// The floor: an agent with Veskline's capabilities and event switching whose
// handlers do nothing else. Whatever the VM charges for method events under
// this agent is out of any handler's reach; Veskline's own share is what it
// costs on top of this. Built for the benchmarks only, never installed.
#include <cstdio>
#include <cstring>

#include <jvmti.h>

#include "agent/agent_capabilities.h"

namespace {

jvmtiEnv* floorJvmti = nullptr;

void switchMethodEventsOn() {
    floorJvmti->SetEventNotificationMode(JVMTI_ENABLE, JVMTI_EVENT_METHOD_ENTRY, nullptr);
    floorJvmti->SetEventNotificationMode(JVMTI_ENABLE, JVMTI_EVENT_METHOD_EXIT, nullptr);
}

void JNICALL onFloorThreadStart(jvmtiEnv*, JNIEnv*, jthread) { switchMethodEventsOn(); }

void JNICALL onFloorThreadEnd(jvmtiEnv*, JNIEnv*, jthread) {}

void JNICALL onFloorMethodEntry(jvmtiEnv*, JNIEnv*, jthread, jmethodID) {}

void JNICALL onFloorMethodExit(jvmtiEnv*, JNIEnv*, jthread, jmethodID, jboolean, jvalue) {}

jint refuseLoad(const char* message) {
    std::fputs(message, stdout);
    std::fflush(stdout);
    return JNI_ERR;
}

}  // namespace

extern "C" JNIEXPORT jint JNICALL Agent_OnLoad(JavaVM* vm, char* /*options*/, void* /*reserved*/) {
    if (vm->GetEnv(reinterpret_cast<void**>(&floorJvmti), JVMTI_VERSION_1_0) != JNI_OK || floorJvmti == nullptr) {
        return refuseLoad("floor agent: no JVMTI environment");
    }

    jvmtiCapabilities capabilities = agentCapabilities();
    if (floorJvmti->AddCapabilities(&capabilities) != JVMTI_ERROR_NONE) {
        return refuseLoad("floor agent: capabilities refused");
    }

    jvmtiEventCallbacks callbacks;
    std::memset(&callbacks, 0, sizeof callbacks);
    callbacks.ThreadStart = onFloorThreadStart;
    callbacks.ThreadEnd = onFloorThreadEnd;
    callbacks.MethodEntry = onFloorMethodEntry;
    callbacks.MethodExit = onFloorMethodExit;
    if (floorJvmti->SetEventCallbacks(&callbacks, static_cast<jint>(sizeof callbacks)) != JVMTI_ERROR_NONE) {
        return refuseLoad("floor agent: callbacks refused");
    }

    // As in Veskline: method events stay off until the first thread start.
    floorJvmti->SetEventNotificationMode(JVMTI_ENABLE, JVMTI_EVENT_THREAD_START, nullptr);
    floorJvmti->SetEventNotificationMode(JVMTI_ENABLE, JVMTI_EVENT_THREAD_END, nullptr);
    return JNI_OK;
}

extern "C" JNIEXPORT void JNICALL Agent_OnUnload(JavaVM* /*vm*/) {}
