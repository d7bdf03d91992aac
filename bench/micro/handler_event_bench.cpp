// What each handler road costs per event, driven through the fake virtual machine.
//
// How to read the figures
//   Every road runs on two sides. "agent" delivers the event to Veskline's own callback.
//   "fake_only" delivers it to a stand-in callback that makes exactly the tool-interface and
//   JNI calls the agent makes on that road, in the same order, and nothing else. The fake is
//   much slower than a VM on those calls (it checks, names and counts every one), so the
//   agent's own time on a road is agent minus fake_only; the fake's share is fake_only.
//   "delivery_only" is an empty callback: what the fake costs to deliver an event at all;
//   "delivery_only_one_by_one" adds the clock reads of the roads timed one by one (below).
//   Roads that read or change the uid table or the start rings run a second agent side,
//   "agent_full": all 30 records claimed with 58 members each (the caller, when it carries a
//   uid, in the very last slot, so every lookup scans the whole table), and full start rings
//   with the caller's hand-over the oldest. The plain "agent" side holds only what the road
//   needs.
//   Roads whose event changes what the next one finds (an exit that switches method events
//   off, a start exit that consumes its hand-over, a notify that queues or consumes a
//   snapshot) are timed one event at a time on this thread's CPU clock; the restore between
//   events is not timed. Both sides of such a road pay the same two clock reads, so the
//   difference holds. Quote CPU time, which on a shared machine leaves out the time other
//   processes took: the CPU column, except for the roads timed one by one ("manual_time"),
//   whose Time column is the event's own CPU time (their CPU column includes the restore).
//   Call recording is off and dead reference handles are reused, so long runs stay flat in
//   memory; hand-over records the agent keeps are freed every few thousand events, untimed.
//
// Checks, never on a time: one untimed event of every road is run with the fake's call log
// on, and each agent side must make exactly the calls of its fake_only stand-in (else the
// subtraction means nothing). A road that stops doing what it should (an event not
// delivered, a hand-over not made, a violation noticed by the fake) is reported as an error.
// Either makes the program exit with 1.
#include <benchmark/benchmark.h>

#include <jvmti.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "agent/agent_state.h"
#include "handlers/monitor_snapshots.h"
#include "tests/fake/fake_jvm.h"

namespace {

using fake::FakeJvm;
using fake::Frame;
using fake::ObjectId;

enum class Side { Agent, AgentFull, FakeOnly };

constexpr jint CALLER_UID = 7;
constexpr jint ABSENT_UID = 999;   // no record carries it: beforeAdvice on a full table claims none
constexpr int CLEANUP_EVERY = 4096;

bool anyRoadFailed = false;

void fail(benchmark::State& state, const std::string& why) {
    anyRoadFailed = true;
    if (!state.error_occurred()) state.SkipWithError(why.c_str());
}

// A loaded agent with method events on, the methods of every road, and the threads they name.
struct Scene {
    FakeJvm fk;
    bool full;
    ObjectId caller = fk.newThread("main");
    ObjectId child = fk.newThread("child");
    ObjectId waiter = fk.newThread("waiter");
    ObjectId ender = fk.newThread("ender");
    ObjectId lock = fk.newObject("lock");
    ObjectId matcherClass = fk.newClass("java/util/regex/Matcher", fk.objectClass());
    ObjectId matcher = fk.newObject("matcher", matcherClass);
    jmethodID ordinary = fk.newMethod("compute", fk.objectClass(), std::nullopt, "(I)I");
    jmethodID beforeAdvice;
    jmethodID afterAdvice = fk.newMethod("afterAdvice", fk.objectClass(), std::nullopt, "(I)V",
                                         Frame().withInt(1, 0));
    jmethodID notify = fk.newMethod("notify", fk.objectClass());
    jmethodID threadStart = fk.newMethod("start", fk.threadClass(), std::nullopt, "()V",
                                         Frame().withObject(0, child));
    jmethodID matcherStart = fk.newMethod("start", matcherClass, std::nullopt, "()I",
                                          Frame().withObject(0, matcher));
    ThreadHash callerHash = fk.hashOf(caller);
    ThreadHash childHash = fk.hashOf(child);

    // The stand-in callbacks' leftovers, given back untimed.
    std::vector<char*> keptNames;
    std::vector<jobject> keptRefs;
    std::vector<jobject*> keptArrays;

    Scene(Side side, bool callerHasUid)
        : full(side == Side::AgentFull),
          beforeAdvice(fk.newMethod("beforeAdvice", fk.objectClass(), std::nullopt, "(I)V",
                                    Frame().withInt(1, full ? ABSENT_UID : CALLER_UID))) {
        fake::resetAgentState();
        fk.recordCalls(false);
        fk.reuseDeadRefs(true);
        if (Agent_OnLoad(fk.vm(), nullptr, nullptr) != JNI_OK) std::abort();
        fk.threadStart(caller);   // method events on, as once a JVM has started main
        fk.setOwner(lock, caller);
        // The class the agent looks up at its first start, found now so no road pays for it.
        jclass thread = fk.jni()->FindClass("java/lang/Thread");
        agentState.threadClass = static_cast<jclass>(fk.jni()->NewGlobalRef(thread));
        fillTable(callerHasUid);
        fillStartRings();
    }

    ~Scene() {
        freeHistory();
        releaseSnapshotsOf(fk.jni(), callerHash);
        releaseKept();
        fake::resetAgentState();
    }

    void fillTable(bool callerHasUid) {
        UidTable& table = agentState.uidTable;
        if (!full) {
            if (callerHasUid) {
                table.records[0].uid = CALLER_UID;
                table.records[0].slots[0] = callerHash;
            }
            return;
        }
        for (int r = 0; r < UID_RECORD_COUNT; ++r) {
            table.records[r].uid = 1000 + r;
            for (int s = 0; s < UID_SLOT_COUNT; ++s) table.records[r].slots[s] = 0x40000000 + r * UID_SLOT_COUNT + s;
        }
        if (callerHasUid) {
            table.records[UID_RECORD_COUNT - 1].uid = CALLER_UID;
            table.records[UID_RECORD_COUNT - 1].slots[UID_SLOT_COUNT - 1] = callerHash;
        }
    }

    void fillStartRings() {
        if (!full) return;
        for (int i = 0; i < RECENT_START_COUNT; ++i) noteThreadStart(agentState.recentStarts, 0x50000000 + i);
        for (int i = 0; i < PENDING_START_COUNT; ++i) {
            pushPendingStart(agentState.pendingStarts, 0x60000000 + i, 0x61000000 + i);
        }
    }

    // The caller's hand-over at a Thread start, as its entry left it: on a full ring the oldest.
    void pendHandOver() {
        PendingStarts& pending = agentState.pendingStarts;
        if (full) pending.entries[0] = PendingStart{callerHash, childHash, 1};   // the first push of the ring
        else pushPendingStart(pending, callerHash, childHash);
    }

    void methodEventsOn() {
        fk.jvmti()->SetEventNotificationMode(JVMTI_ENABLE, JVMTI_EVENT_METHOD_ENTRY, nullptr);
        fk.jvmti()->SetEventNotificationMode(JVMTI_ENABLE, JVMTI_EVENT_METHOD_EXIT, nullptr);
    }
    bool methodEventsAreOn() const {
        return fk.isEnabled(JVMTI_EVENT_METHOD_ENTRY) && fk.isEnabled(JVMTI_EVENT_METHOD_EXIT);
    }

    void freeHistory() {
        ThrContext* record = agentState.contextHistory.head;
        while (record != nullptr) {
            ThrContext* next = record->next;
            fk.jvmti()->Deallocate(reinterpret_cast<unsigned char*>(const_cast<char*>(record->methodName)));
            std::free(record);
            record = next;
        }
        agentState.contextHistory = ContextHistory{nullptr, nullptr};
    }

    void releaseKept() {
        for (char* name : keptNames) fk.jvmti()->Deallocate(reinterpret_cast<unsigned char*>(name));
        for (jobject ref : keptRefs) fk.jni()->DeleteGlobalRef(ref);
        for (jobject* array : keptArrays) fk.jvmti()->Deallocate(reinterpret_cast<unsigned char*>(array));
        keptNames.clear();
        keptRefs.clear();
        keptArrays.clear();
    }

    void useCallbacks(const jvmtiEventCallbacks& callbacks) {
        fk.jvmti()->SetEventCallbacks(&callbacks, static_cast<jint>(sizeof callbacks));
    }

    void reportViolations(benchmark::State& state) {
        std::vector<std::string> problems = fk.violations();
        if (!problems.empty()) fail(state, "fake noticed: " + problems.front());
    }
};

Scene* scene = nullptr;   // the stand-in callbacks' view of the running road

// ---- The stand-in callbacks: the agent's tool calls on each road, nothing else. ----

struct Names {
    char* name;
    char* signature;
    char* generic;
};

Names enterAndName(jvmtiEnv* jvmti, jthread thread, jmethodID method, jint* hash) {
    jvmti->RawMonitorEnter(agentState.agentRawMonitor);
    Names names{nullptr, nullptr, nullptr};
    jvmti->GetMethodName(method, &names.name, &names.signature, &names.generic);
    jvmti->GetObjectHashCode(thread, hash);
    return names;
}

void giveBackAndExit(jvmtiEnv* jvmti, const Names& names, bool keepName) {
    if (keepName) scene->keptNames.push_back(names.name);
    else jvmti->Deallocate(reinterpret_cast<unsigned char*>(names.name));
    jvmti->Deallocate(reinterpret_cast<unsigned char*>(names.signature));
    jvmti->Deallocate(reinterpret_cast<unsigned char*>(names.generic));
    jvmti->RawMonitorExit(agentState.agentRawMonitor);
}

bool declaredByThread(JNIEnv* jni, jvmtiEnv* jvmti, jmethodID method) {
    jclass declaring = nullptr;
    jvmti->GetMethodDeclaringClass(method, &declaring);
    bool isThread = jni->IsAssignableFrom(declaring, agentState.threadClass) == JNI_TRUE;
    jni->DeleteLocalRef(declaring);
    return isThread;
}

void JNICALL emptyEntry(jvmtiEnv*, JNIEnv*, jthread, jmethodID) {}

// Ordinary methods, advice methods without their local, notify without a uid.
void JNICALL namesOnlyEntry(jvmtiEnv* jvmti, JNIEnv*, jthread thread, jmethodID method) {
    jint hash = 0;
    Names names = enterAndName(jvmti, thread, method, &hash);
    giveBackAndExit(jvmti, names, false);
}
void JNICALL namesOnlyExit(jvmtiEnv* jvmti, JNIEnv* jni, jthread thread, jmethodID method, jboolean, jvalue) {
    namesOnlyEntry(jvmti, jni, thread, method);
}

void JNICALL beforeAdviceEntry(jvmtiEnv* jvmti, JNIEnv*, jthread thread, jmethodID method) {
    jint hash = 0;
    Names names = enterAndName(jvmti, thread, method, &hash);
    jint uid = 0;
    jvmti->GetLocalInt(thread, 0, 1, &uid);
    giveBackAndExit(jvmti, names, false);
}

void JNICALL afterAdviceEntry(jvmtiEnv* jvmti, JNIEnv*, jthread thread, jmethodID method) {
    jint hash = 0;
    Names names = enterAndName(jvmti, thread, method, &hash);
    jvmti->SetLocalInt(thread, 0, 1, CALLER_UID);
    giveBackAndExit(jvmti, names, false);
}

void JNICALL threadStartEntry(jvmtiEnv* jvmti, JNIEnv* jni, jthread thread, jmethodID method) {
    jint hash = 0;
    Names names = enterAndName(jvmti, thread, method, &hash);
    declaredByThread(jni, jvmti, method);
    jobject started = nullptr;
    jvmti->GetLocalObject(thread, 0, 0, &started);
    jni->IsInstanceOf(started, agentState.threadClass);
    jint state = 0;
    jvmti->GetThreadState(started, &state);
    jint startedHash = 0;
    jvmti->GetObjectHashCode(started, &startedHash);
    jni->DeleteLocalRef(started);
    giveBackAndExit(jvmti, names, true);
}

// Matcher.start and the like: a start whose class is no Thread.
void JNICALL otherStartEntry(jvmtiEnv* jvmti, JNIEnv* jni, jthread thread, jmethodID method) {
    jint hash = 0;
    Names names = enterAndName(jvmti, thread, method, &hash);
    declaredByThread(jni, jvmti, method);
    giveBackAndExit(jvmti, names, false);
}
void JNICALL otherStartExit(jvmtiEnv* jvmti, JNIEnv* jni, jthread thread, jmethodID method, jboolean, jvalue) {
    otherStartEntry(jvmti, jni, thread, method);
}

void JNICALL threadStartExitSwitching(jvmtiEnv* jvmti, JNIEnv* jni, jthread thread, jmethodID method, jboolean,
                                      jvalue) {
    jint hash = 0;
    Names names = enterAndName(jvmti, thread, method, &hash);
    declaredByThread(jni, jvmti, method);
    jvmti->SetEventNotificationMode(JVMTI_DISABLE, JVMTI_EVENT_METHOD_ENTRY, nullptr);
    jvmti->SetEventNotificationMode(JVMTI_DISABLE, JVMTI_EVENT_METHOD_EXIT, nullptr);
    giveBackAndExit(jvmti, names, false);
}

// notify with a uid: one owned monitor, one thread in wait(); the snapshot is kept.
void JNICALL notifyWithUidEntry(jvmtiEnv* jvmti, JNIEnv* jni, jthread thread, jmethodID method) {
    jint hash = 0;
    Names names = enterAndName(jvmti, thread, method, &hash);
    jint count = 0;
    jobject* monitors = nullptr;
    jvmti->GetOwnedMonitorInfo(thread, &count, &monitors);
    for (jint i = 0; i < count; ++i) {
        jvmtiMonitorUsage usage;
        jvmti->GetObjectMonitorUsage(monitors[i], &usage);
        for (jint w = 0; w < usage.notify_waiter_count; ++w) {
            usage.notify_waiters[w] = jni->NewGlobalRef(usage.notify_waiters[w]);
            scene->keptRefs.push_back(usage.notify_waiters[w]);
        }
        scene->keptRefs.push_back(jni->NewGlobalRef(monitors[i]));
        scene->keptArrays.push_back(usage.waiters);
        scene->keptArrays.push_back(usage.notify_waiters);
    }
    jvmti->Deallocate(reinterpret_cast<unsigned char*>(monitors));
    giveBackAndExit(jvmti, names, false);
}

// Its exit: the waiter kept at the entry waits no more and is handed the uid.
void JNICALL notifyWithUidExit(jvmtiEnv* jvmti, JNIEnv* jni, jthread thread, jmethodID method, jboolean, jvalue) {
    jint hash = 0;
    Names names = enterAndName(jvmti, thread, method, &hash);
    jint count = 0;
    jobject* monitors = nullptr;
    jvmti->GetOwnedMonitorInfo(thread, &count, &monitors);
    // What the entry kept: the waiter, the monitor, the two arrays.
    jobject keptWaiter = scene->keptRefs[0];
    jobject keptMonitor = scene->keptRefs[1];
    jni->IsSameObject(keptMonitor, monitors[0]);
    jvmtiMonitorUsage after;
    jvmti->GetObjectMonitorUsage(monitors[0], &after);
    for (jint w = 0; w < after.notify_waiter_count; ++w) jni->IsSameObject(after.notify_waiters[w], keptWaiter);
    jint waiterHash = 0;
    jvmti->GetObjectHashCode(keptWaiter, &waiterHash);
    jvmti->Deallocate(reinterpret_cast<unsigned char*>(after.waiters));
    jvmti->Deallocate(reinterpret_cast<unsigned char*>(after.notify_waiters));
    jni->DeleteGlobalRef(keptWaiter);
    jvmti->Deallocate(reinterpret_cast<unsigned char*>(scene->keptArrays[0]));
    jvmti->Deallocate(reinterpret_cast<unsigned char*>(scene->keptArrays[1]));
    jni->DeleteGlobalRef(keptMonitor);
    scene->keptRefs.clear();
    scene->keptArrays.clear();
    jvmti->Deallocate(reinterpret_cast<unsigned char*>(monitors));
    jvmti->SetEventNotificationMode(JVMTI_DISABLE, JVMTI_EVENT_METHOD_ENTRY, nullptr);
    jvmti->SetEventNotificationMode(JVMTI_DISABLE, JVMTI_EVENT_METHOD_EXIT, nullptr);
    giveBackAndExit(jvmti, names, true);
}

void JNICALL threadStartCalls(jvmtiEnv* jvmti, JNIEnv*, jthread thread) {
    jvmti->RawMonitorEnter(agentState.agentRawMonitor);
    jvmti->SetEventNotificationMode(JVMTI_ENABLE, JVMTI_EVENT_METHOD_ENTRY, nullptr);
    jvmti->SetEventNotificationMode(JVMTI_ENABLE, JVMTI_EVENT_METHOD_EXIT, nullptr);
    jint hash = 0;
    jvmti->GetObjectHashCode(thread, &hash);
    jvmti->RawMonitorExit(agentState.agentRawMonitor);
}

void JNICALL threadEndCalls(jvmtiEnv* jvmti, JNIEnv*, jthread thread) {
    jvmti->RawMonitorEnter(agentState.agentRawMonitor);
    jint hash = 0;
    jvmti->GetObjectHashCode(thread, &hash);
    jvmti->RawMonitorExit(agentState.agentRawMonitor);
}

// ---- Timing loops. ----

// The tool calls of one event on each side of each road, compared once all have run.
std::map<std::string, std::vector<std::string>> traces;
std::string runningRoad;   // "<road>/<side>" of the benchmark running now

// One event, untimed, with the fake's call log on: the calls the road makes.
template <typename Event>
bool traceOneEvent(Scene& s, Event event) {
    s.fk.clearCalls();
    s.fk.recordCalls(true);
    bool delivered = event();
    s.fk.recordCalls(false);
    traces.emplace(runningRoad, s.fk.calls());
    s.fk.clearCalls();
    return delivered;
}

// Events that leave the scene as they found it, back to back. Hand-over records and kept
// names pile up, so every few thousand events they are given back with the clock stopped.
template <typename Event>
void eachInTurn(benchmark::State& state, Scene& s, Event event) {
    if (!traceOneEvent(s, event)) return fail(state, "event not delivered");
    long count = 0;
    for (auto _ : state) {
        if (!event()) {
            fail(state, "event not delivered");
            break;
        }
        if (++count % CLEANUP_EVERY == 0) {
            state.PauseTiming();
            s.freeHistory();
            s.releaseKept();
            state.ResumeTiming();
        }
    }
}

// CPU time of this thread: a shared machine's other work does not count.
double threadSeconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Events timed one by one; restore runs untimed after each and says whether the event
// did what the road is about.
template <typename Event, typename Restore>
void oneByOne(benchmark::State& state, Scene& s, Event event, Restore restore) {
    if (!traceOneEvent(s, event)) return fail(state, "event not delivered");
    if (!restore()) return fail(state, "the road did not do its work");
    long count = 0;
    for (auto _ : state) {
        double begin = threadSeconds();
        bool delivered = event();
        state.SetIterationTime(threadSeconds() - begin);
        if (!delivered) {
            fail(state, "event not delivered");
            break;
        }
        if (!restore()) {
            fail(state, "the road did not do its work");
            break;
        }
        if (++count % CLEANUP_EVERY == 0) s.freeHistory();
    }
}

jvmtiEventCallbacks standIn(jvmtiEventMethodEntry entry, jvmtiEventMethodExit exit = nullptr) {
    jvmtiEventCallbacks callbacks{};
    callbacks.ThreadStart = threadStartCalls;
    callbacks.ThreadEnd = threadEndCalls;
    callbacks.MethodEntry = entry;
    callbacks.MethodExit = exit;
    return callbacks;
}

// Runs a road: the scene, the stand-in callbacks on the fake_only side, the loop, the checks.
template <typename Body>
void road(benchmark::State& state, Side side, bool callerHasUid, const jvmtiEventCallbacks& standIns, Body body) {
    Scene s(side, callerHasUid);
    scene = &s;
    if (side == Side::FakeOnly) s.useCallbacks(standIns);
    body(s);
    s.reportViolations(state);
    scene = nullptr;
}

// ---- The roads. ----

void deliveryOnly(benchmark::State& state) {
    road(state, Side::FakeOnly, false, standIn(emptyEntry), [&](Scene& s) {
        eachInTurn(state, s, [&] { return s.fk.methodEntry(s.caller, s.ordinary); });
    });
}

// The same, timed one by one: the fake's delivery plus the two clock reads every
// one-by-one road pays on both sides.
void deliveryOnlyOneByOne(benchmark::State& state) {
    road(state, Side::FakeOnly, false, standIn(emptyEntry), [&](Scene& s) {
        oneByOne(
            state, s, [&] { return s.fk.methodEntry(s.caller, s.ordinary); }, [] { return true; });
    });
}

void entryOrdinary(benchmark::State& state, Side side) {
    road(state, side, false, standIn(namesOnlyEntry), [&](Scene& s) {
        eachInTurn(state, s, [&] { return s.fk.methodEntry(s.caller, s.ordinary); });
    });
}

void exitOrdinary(benchmark::State& state, Side side) {
    road(state, side, false, standIn(nullptr, namesOnlyExit), [&](Scene& s) {
        eachInTurn(state, s, [&] { return s.fk.methodExit(s.caller, s.ordinary); });
    });
}

void entryBeforeAdvice(benchmark::State& state, Side side) {
    road(state, side, true, standIn(beforeAdviceEntry), [&](Scene& s) {
        eachInTurn(state, s, [&] { return s.fk.methodEntry(s.caller, s.beforeAdvice); });
        jint expected = side == Side::Agent ? CALLER_UID : 0;   // a full table has no record for it
        if (side != Side::FakeOnly && lookupUid(agentState.uidTable, s.callerHash) != expected) {
            fail(state, "beforeAdvice did not register as expected");
        }
    });
}

void entryAfterAdvice(benchmark::State& state, Side side) {
    road(state, side, true, standIn(afterAdviceEntry), [&](Scene& s) {
        eachInTurn(state, s, [&] { return s.fk.methodEntry(s.caller, s.afterAdvice); });
        if (s.fk.localInt(s.caller, 1) != CALLER_UID) fail(state, "afterAdvice did not see the uid");
    });
}

void entryThreadStart(benchmark::State& state, Side side) {
    road(state, side, true, standIn(threadStartEntry), [&](Scene& s) {
        eachInTurn(state, s, [&] { return s.fk.methodEntry(s.caller, s.threadStart); });
        jint expected = side == Side::Agent ? CALLER_UID : 0;   // a full group turns the child away
        if (side != Side::FakeOnly && lookupUid(agentState.uidTable, s.childHash) != expected) {
            fail(state, "the start did not hand over as expected");
        }
    });
}

void entryMatcherStart(benchmark::State& state, Side side) {
    road(state, side, true, standIn(otherStartEntry), [&](Scene& s) {
        eachInTurn(state, s, [&] { return s.fk.methodEntry(s.caller, s.matcherStart); });
        if (agentState.contextHistory.head != nullptr) fail(state, "Matcher.start handed over");
    });
}

// No hand-over waits for the caller, so the class of the method is not even asked.
void exitMatcherStart(benchmark::State& state, Side side) {
    road(state, side, true, standIn(nullptr, namesOnlyExit), [&](Scene& s) {
        eachInTurn(state, s, [&] { return s.fk.methodExit(s.caller, s.matcherStart); });
    });
}

// Thread.start returns before the started thread runs: method events go off.
void exitThreadStartSwitchesOff(benchmark::State& state, Side side) {
    road(state, side, true, standIn(nullptr, threadStartExitSwitching), [&](Scene& s) {
        if (side != Side::FakeOnly) s.pendHandOver();
        oneByOne(
            state, s, [&] { return s.fk.methodExit(s.caller, s.threadStart); },
            [&] {
                bool switchedOff = !s.methodEventsAreOn();
                s.methodEventsOn();
                if (side != Side::FakeOnly) s.pendHandOver();
                return switchedOff;
            });
    });
}

// Thread.start returns after the started thread began to run: method events stay on.
void exitThreadStartStartedRuns(benchmark::State& state, Side side) {
    road(state, side, true, standIn(nullptr, otherStartExit), [&](Scene& s) {
        if (side != Side::FakeOnly) {
            // The child has begun to run; on full rings it sits where the search ends.
            if (s.full) agentState.recentStarts.hashes[RECENT_START_COUNT - 1] = s.childHash;
            else noteThreadStart(agentState.recentStarts, s.childHash);
            s.pendHandOver();
        }
        oneByOne(
            state, s, [&] { return s.fk.methodExit(s.caller, s.threadStart); },
            [&] {
                if (side != Side::FakeOnly) s.pendHandOver();
                return s.methodEventsAreOn();
            });
    });
}

void entryNotifyWithoutUid(benchmark::State& state, Side side) {
    road(state, side, false, standIn(namesOnlyEntry), [&](Scene& s) {
        s.fk.setNotifyWaiters(s.lock, {s.waiter});
        eachInTurn(state, s, [&] { return s.fk.methodEntry(s.caller, s.notify); });
        if (agentState.snapshotQueue.head != nullptr) fail(state, "a snapshot without a uid");
    });
}

void exitNotifyWithoutUid(benchmark::State& state, Side side) {
    road(state, side, false, standIn(nullptr, namesOnlyExit), [&](Scene& s) {
        eachInTurn(state, s, [&] { return s.fk.methodExit(s.caller, s.notify); });
    });
}

// One owned monitor with one thread in wait(); the exit of the earlier notify came, so
// the queue is empty at each entry.
void entryNotifyWithUid(benchmark::State& state, Side side) {
    road(state, side, true, standIn(notifyWithUidEntry), [&](Scene& s) {
        s.fk.setNotifyWaiters(s.lock, {s.waiter});
        oneByOne(
            state, s, [&] { return s.fk.methodEntry(s.caller, s.notify); },
            [&] {
                bool queued = side == Side::FakeOnly || agentState.snapshotQueue.head != nullptr;
                releaseSnapshotsOf(s.fk.jni(), s.callerHash);
                s.releaseKept();
                return queued;
            });
    });
}

// The waiter seen at the entry is gone at the exit: it gets the uid, method events go off.
void exitNotifyWithUid(benchmark::State& state, Side side) {
    road(state, side, true, standIn(notifyWithUidEntry, notifyWithUidExit), [&](Scene& s) {
        auto enterNotify = [&] {
            s.fk.setNotifyWaiters(s.lock, {s.waiter});
            bool entered = s.fk.methodEntry(s.caller, s.notify);
            s.fk.setNotifyWaiters(s.lock, {});
            return entered;
        };
        if (!enterNotify()) fail(state, "notify entry not delivered");
        oneByOne(
            state, s, [&] { return s.fk.methodExit(s.caller, s.notify); },
            [&] {
                bool done = !s.methodEventsAreOn();
                if (side == Side::Agent) done = done && lookupUid(agentState.uidTable, s.fk.hashOf(s.waiter)) == CALLER_UID;
                s.methodEventsOn();
                return enterNotify() && done;
            });
    });
}

void threadStartEvent(benchmark::State& state, Side side) {
    road(state, side, false, standIn(nullptr), [&](Scene& s) {
        eachInTurn(state, s, [&] { return s.fk.threadStart(s.child); });
    });
}

void threadEndEvent(benchmark::State& state, Side side) {
    road(state, side, false, standIn(nullptr), [&](Scene& s) {
        if (s.full) agentState.uidTable.records[0].slots[UID_SLOT_COUNT - 1] = s.fk.hashOf(s.ender);
        eachInTurn(state, s, [&] { return s.fk.threadEnd(s.ender); });
        if (lookupUid(agentState.uidTable, s.fk.hashOf(s.ender)) != 0) fail(state, "the ended thread kept its uid");
    });
}

using RoadFn = void (*)(benchmark::State&, Side);

struct RoadEntry {
    const char* name;
    RoadFn run;
    bool tableMatters;   // whether a full table or full start rings change the road's work
    bool oneByOne;
};

const RoadEntry ROADS[] = {
    {"MethodEntry/ordinary", entryOrdinary, false, false},
    {"MethodEntry/beforeAdvice", entryBeforeAdvice, true, false},
    {"MethodEntry/afterAdvice", entryAfterAdvice, true, false},
    {"MethodEntry/Thread.start", entryThreadStart, true, false},
    {"MethodEntry/Matcher.start", entryMatcherStart, false, false},
    {"MethodEntry/notify_without_uid", entryNotifyWithoutUid, true, false},
    {"MethodEntry/notify_with_uid", entryNotifyWithUid, true, true},
    {"MethodExit/ordinary", exitOrdinary, false, false},
    {"MethodExit/Thread.start_switches_off", exitThreadStartSwitchesOff, true, true},
    {"MethodExit/Thread.start_started_runs", exitThreadStartStartedRuns, true, true},
    {"MethodExit/Matcher.start", exitMatcherStart, false, false},
    {"MethodExit/notify_without_uid", exitNotifyWithoutUid, true, false},
    {"MethodExit/notify_with_uid", exitNotifyWithUid, true, true},
    {"ThreadStart", threadStartEvent, false, false},
    {"ThreadEnd", threadEndEvent, true, false},
};

void registerRoads() {
    benchmark::RegisterBenchmark("MethodEntry/delivery_only", [](benchmark::State& state) {
        runningRoad = "MethodEntry/delivery_only";
        deliveryOnly(state);
    });
    benchmark::RegisterBenchmark("MethodEntry/delivery_only_one_by_one", [](benchmark::State& state) {
        runningRoad = "MethodEntry/delivery_only_one_by_one";
        deliveryOnlyOneByOne(state);
    })->UseManualTime();
    for (const RoadEntry& entry : ROADS) {
        struct SideName {
            Side side;
            const char* suffix;
        };
        const SideName sides[] = {{Side::Agent, "/agent"}, {Side::AgentFull, "/agent_full"}, {Side::FakeOnly, "/fake_only"}};
        for (const SideName& side : sides) {
            if (side.side == Side::AgentFull && !entry.tableMatters) continue;
            std::string name = std::string(entry.name) + side.suffix;
            RoadFn run = entry.run;
            Side which = side.side;
            benchmark::internal::Benchmark* b =
                benchmark::RegisterBenchmark(name.c_str(), [run, which, name](benchmark::State& state) {
                    runningRoad = name;
                    run(state, which);
                });
            if (entry.oneByOne) b->UseManualTime();
        }
    }
}

// The fake_only side stands for the agent's calls only while it makes the same ones.
bool standInsMatchAgent() {
    bool match = true;
    for (const RoadEntry& entry : ROADS) {
        auto standIn = traces.find(std::string(entry.name) + "/fake_only");
        if (standIn == traces.end()) continue;
        for (const char* side : {"/agent", "/agent_full"}) {
            auto agent = traces.find(std::string(entry.name) + side);
            if (agent == traces.end() || agent->second == standIn->second) continue;
            match = false;
            std::fprintf(stderr, "%s%s makes other calls than its fake_only stand-in:\n", entry.name, side);
            std::size_t n = std::max(agent->second.size(), standIn->second.size());
            for (std::size_t i = 0; i < n; ++i) {
                const char* a = i < agent->second.size() ? agent->second[i].c_str() : "-";
                const char* f = i < standIn->second.size() ? standIn->second[i].c_str() : "-";
                std::fprintf(stderr, "  %-50s %s%s\n", a, f, std::string(a) == f ? "" : "   <--");
            }
        }
    }
    return match;
}

}  // namespace

int main(int argc, char** argv) {
    registerRoads();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    bool match = standInsMatchAgent();
    return anyRoadFailed || !match ? 1 : 0;
}
