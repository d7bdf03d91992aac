// The cast most handler tests share: the methods the agent reacts to and a thread that
// hands a context in, on a loaded agent with method events on.
#pragma once

#include "agent/agent_state.h"
#include "tests/fake/fake_jvm.h"

class HandlerTest : public fake::AgentTest {
protected:
    jmethodID beforeAdvice = fk.newMethod("beforeAdvice", fk.objectClass(), std::nullopt, "(I)V");
    jmethodID afterAdvice = fk.newMethod("afterAdvice", fk.objectClass(), std::nullopt, "(I)V");
    jmethodID threadStartMethod = fk.newMethod("start", fk.threadClass());
    jmethodID notify = fk.newMethod("notify", fk.objectClass());
    jmethodID notifyAll = fk.newMethod("notifyAll", fk.objectClass());
    jmethodID run = fk.newMethod("run", fk.threadClass());

    // The thread enters beforeAdvice(uid).
    void giveUid(fake::ObjectId thread, jint uid) {
        ASSERT_TRUE(fk.methodEntry(thread, beforeAdvice, fake::Frame().withObject(0, fake::NO_OBJECT).withInt(1, uid)));
    }
    // What afterAdvice(5) of the thread sees in slot 1.
    jint seenByAfterAdvice(fake::ObjectId thread) {
        EXPECT_TRUE(fk.methodEntry(thread, afterAdvice, fake::Frame().withInt(1, 5)));
        return fk.localInt(thread, 1).value_or(-1);
    }
    // The parent enters and leaves Thread.start for child, which does not run yet.
    void startThread(fake::ObjectId parent, fake::ObjectId child) {
        ASSERT_TRUE(fk.methodEntry(parent, threadStartMethod, fake::Frame().withObject(0, child)));
        ASSERT_TRUE(fk.methodExit(parent, threadStartMethod));
    }
    bool methodEventsOn() const {
        return fk.isEnabled(JVMTI_EVENT_METHOD_ENTRY) && fk.isEnabled(JVMTI_EVENT_METHOD_EXIT);
    }
    bool methodEventsOff() const {
        return !fk.isEnabled(JVMTI_EVENT_METHOD_ENTRY) && !fk.isEnabled(JVMTI_EVENT_METHOD_EXIT);
    }
    int historyLength() const {
        int length = 0;
        for (const ThrContext* r = agentState.contextHistory.head; r != nullptr; r = r->next) ++length;
        return length;
    }
    int queueLength() const {
        int length = 0;
        for (const ThrInfo* n = agentState.snapshotQueue.head; n != nullptr; n = n->next) ++length;
        return length;
    }
};
