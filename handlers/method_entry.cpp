#include "handlers/method_entry.h"

#include "agent/agent_state.h"
#include "agent/fatal_report.h"
#include "handlers/advice_hooks.h"
#include "handlers/notify_road.h"
#include "handlers/start_road.h"
#include "handlers/thread_identity.h"

void JNICALL onMethodEntry(jvmtiEnv*, JNIEnv* jni, jthread thread, jmethodID method) {
    lockAgent();
    MethodNames names;
    if (!getMethodNames(method, &names)) {
        unlockAgent();
        return;
    }
    ThreadHash hash = hashOfObject(thread);
    onBeforeAdvice(thread, names.name, hash);
    onAfterAdvice(thread, names.name, hash);

    bool keepName = false;
    if (isNotifyName(names.name)) {
        if (lookupUid(agentState.uidTable, hash) != 0) queueMonitorSnapshots(jni, thread, hash);
    } else if (isNamed(names.name, "start")) {
        if (isThreadClassMethod(jni, method)) keepName = handOverAtStart(jni, thread, hash, names.name);
    }
    releaseMethodNames(names, keepName);
    unlockAgent();
}
