#include "handlers/method_entry.h"

#include "agent/agent_state.h"
#include "handlers/advice_hooks.h"
#include "handlers/notify_road.h"
#include "handlers/start_road.h"
#include "handlers/thread_identity.h"

void JNICALL onMethodEntry(jvmtiEnv*, JNIEnv* jni, jthread thread, jmethodID method) {
    MethodEvent event;
    if (!beginMethodEvent(thread, method, &event)) return;
    const char* name = event.names.name;
    ThreadHash hash = event.threadHash;
    onBeforeAdvice(thread, name, hash);
    onAfterAdvice(thread, name, hash);

    bool keepName = false;
    if (isNotifyName(name)) {
        if (lookupUid(agentState.uidTable, hash) != 0) queueMonitorSnapshots(jni, thread, hash);
    } else if (isNamed(name, "start")) {
        if (isThreadClassMethod(jni, method)) keepName = handOverAtStart(jni, thread, hash, name);
    }
    endMethodEvent(event, keepName);
}
