#include "handlers/method_exit.h"

#include "agent/agent_state.h"
#include "agent/event_switch.h"
#include "agent/fatal_report.h"
#include "handlers/notify_road.h"
#include "handlers/start_road.h"
#include "handlers/thread_identity.h"

// An exit by exception is handled like a normal return.
void JNICALL onMethodExit(jvmtiEnv*, JNIEnv* jni, jthread thread, jmethodID method, jboolean, jvalue) {
    lockAgent();
    MethodNames names;
    if (!getMethodNames(method, &names)) {
        unlockAgent();
        return;
    }
    ThreadHash hash = hashOfObject(thread);

    bool keepName = false;
    if (isNamed(names.name, "start")) {
        if (isThreadClassMethod(jni, method)) switchAfterStart(hash);
    } else if (isNotifyName(names.name)) {
        if (lookupUid(agentState.uidTable, hash) != 0) {
            keepName = handOverToWokenThreads(jni, thread, hash, names.name);
            switchMethodEvents(false);
        }
    }
    releaseMethodNames(names, keepName);
    unlockAgent();
}
