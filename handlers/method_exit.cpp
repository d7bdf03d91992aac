#include "handlers/method_exit.h"

#include "agent/agent_state.h"
#include "agent/event_switch.h"
#include "handlers/notify_road.h"
#include "handlers/start_road.h"
#include "handlers/thread_identity.h"

// An exit by exception is handled like a normal return.
void JNICALL onMethodExit(jvmtiEnv*, JNIEnv* jni, jthread thread, jmethodID method, jboolean, jvalue) {
    MethodEvent event;
    if (!beginMethodEvent(thread, method, &event)) return;
    const char* name = event.names.name;
    ThreadHash hash = event.threadHash;

    bool keepName = false;
    if (isNamed(name, "start")) {
        // Most start exits have no hand-over waiting (Matcher.start, or an entry
        // that came while events were off): the cheap look comes first.
        if (hasPendingStart(agentState.pendingStarts, hash) && isThreadClassMethod(jni, method)) {
            switchAfterStart(hash);
        }
    } else if (isNotifyName(name)) {
        if (lookupUid(agentState.uidTable, hash) != 0) {
            keepName = handOverToWokenThreads(jni, thread, hash, name);
            switchMethodEvents(false);
        }
    }
    endMethodEvent(event, keepName);
}
