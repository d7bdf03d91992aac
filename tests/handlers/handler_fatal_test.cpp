// Every fatal path of the handlers, one row per call the agent makes and checks: the call
// the failure hits, the one stdout line, exit status 255, no tool call after.
#include <ostream>

#include "handler_scene.h"

using namespace fake;

namespace {

// What the failing delivery is, and what happened before it.
enum class Scene {
    ThreadStart,         // B starts
    ThreadEnd,           // A ends with a queued notify snapshot of lock (waiter W)
    Entry,               // A enters an ordinary method with a generic signature
    Exit,                // A leaves it
    EntryInDeadPhase,    // the same entry, GetMethodName answering WRONG_PHASE: it only unlocks
    ExitInDeadPhase,     // the same for the exit
    BeforeAdvice,        // A enters beforeAdvice(9)
    AfterAdvice,         // A enters afterAdvice
    ThreadStartEntry,    // A enters Thread.start for B, the first start the agent sees
    VirtualAwareStart,   // the same on a VM that has virtual threads
    NotifyEntry,         // A, with a uid, enters notify on lock, which W waits on
    NotifyReentry,       // the same while the snapshot of an earlier entry is still queued
    ThreadStartExit,     // A leaves Thread.start for B
    NotifyExit,          // A leaves notify, which woke W
};

struct FatalPath {
    const char* label;
    Scene scene;
    const char* failingCall;   // as the fake logs it; "malloc(fails)"/"calloc(fails)": heap
    int nth;                   // which call of that function (heap: allocation) fails in the delivery
    jint error;
    std::string word;          // the report's operation word; empty: the no-memory report
};

void PrintTo(const FatalPath& path, std::ostream* out) { *out << path.label << " at " << path.failingCall; }

std::string functionOf(const std::string& call) { return call.substr(0, call.find('(')); }
bool isHeap(const std::string& call) { return call == "malloc(fails)" || call == "calloc(fails)"; }

// The call answers error; the report names the function unless word says otherwise.
FatalPath fails(const char* label, Scene scene, const char* call, int nth, jint error, const char* word = nullptr) {
    return FatalPath{label, scene, call, nth, error, word != nullptr ? word : functionOf(call)};
}
// A heap allocation or a new global reference answers null.
FatalPath outOfMemory(const char* label, Scene scene, const char* call, int nth) {
    return FatalPath{label, scene, call, nth, JVMTI_ERROR_OUT_OF_MEMORY, ""};
}

class HandlerFatalDeathTest : public HandlerTest, public ::testing::WithParamInterface<FatalPath> {
protected:
    ObjectId a = fk.newThread("A");
    ObjectId b = fk.newThread("B");
    ObjectId w = fk.newThread("W");
    ObjectId lock = fk.newObject("lock");
    jmethodID generic = fk.newMethod("get", fk.objectClass(), "<T:Ljava/lang/Object;>()TT;", "()Ljava/lang/Object;");

    void setUpScene(Scene scene) {
        giveUid(a, 7);
        fk.setOwner(lock, a);
        fk.setNotifyWaiters(lock, {w});
        switch (scene) {
            case Scene::ThreadEnd:
            case Scene::NotifyReentry: ASSERT_TRUE(fk.methodEntry(a, notify)); break;
            case Scene::VirtualAwareStart: fk.newClass("java/lang/BaseVirtualThread", fk.threadClass()); break;
            case Scene::ThreadStartExit: ASSERT_TRUE(fk.methodEntry(a, threadStartMethod, Frame().withObject(0, b))); break;
            case Scene::NotifyExit:
                ASSERT_TRUE(fk.methodEntry(a, notify));
                fk.setNotifyWaiters(lock, {});
                break;
            default: break;
        }
    }

    void deliver(Scene scene) {
        switch (scene) {
            case Scene::ThreadStart: fk.threadStart(b); break;
            case Scene::ThreadEnd: fk.threadEnd(a); break;
            case Scene::Entry: fk.methodEntry(a, generic); break;
            case Scene::Exit: fk.methodExit(a, generic); break;
            case Scene::EntryInDeadPhase:
                fk.failCall("GetMethodName", JVMTI_ERROR_WRONG_PHASE);
                fk.methodEntry(a, generic);
                break;
            case Scene::ExitInDeadPhase:
                fk.failCall("GetMethodName", JVMTI_ERROR_WRONG_PHASE);
                fk.methodExit(a, generic);
                break;
            case Scene::BeforeAdvice: fk.methodEntry(a, beforeAdvice, Frame().withInt(1, 9)); break;
            case Scene::AfterAdvice: fk.methodEntry(a, afterAdvice, Frame().withInt(1, 0)); break;
            case Scene::ThreadStartEntry:
            case Scene::VirtualAwareStart: fk.methodEntry(a, threadStartMethod, Frame().withObject(0, b)); break;
            case Scene::NotifyEntry:
            case Scene::NotifyReentry: fk.methodEntry(a, notify); break;
            case Scene::ThreadStartExit: fk.methodExit(a, threadStartMethod); break;
            case Scene::NotifyExit: fk.methodExit(a, notify); break;
        }
    }
};

TEST_P(HandlerFatalDeathTest, EndsTheProcessWithItsLine) {
    const FatalPath& path = GetParam();
    ASSERT_NO_FATAL_FAILURE(setUpScene(path.scene));
    const std::string call = path.failingCall;
    const std::string line = path.word.empty() ? "[Vesk] FATAL ERROR: can't alloc mem!"
                                               : "[Vesk] ERROR: can't " + path.word + ", error code:" +
                                                     std::to_string(path.error) + "\n";
    fk.clearCalls();
    expectFatalAt(call, [&] {
        if (isHeap(call)) fk.failHeapAllocation(path.nth);
        else fk.failCall(functionOf(call), path.error, path.nth);
        deliver(path.scene);
    }, line);
}

constexpr jint BAD_MONITOR = JVMTI_ERROR_INVALID_MONITOR;
constexpr jint NOT_OWNER = JVMTI_ERROR_NOT_MONITOR_OWNER;
constexpr jint BAD_OBJECT = JVMTI_ERROR_INVALID_OBJECT;
constexpr jint BAD_METHOD = JVMTI_ERROR_INVALID_METHODID;
constexpr jint BAD_THREAD = JVMTI_ERROR_INVALID_THREAD;
constexpr jint BAD_MEMORY = JVMTI_ERROR_ILLEGAL_ARGUMENT;

INSTANTIATE_TEST_SUITE_P(
    Paths, HandlerFatalDeathTest,
    ::testing::Values(
        // The lock, in and out of every handler.
        fails("ThreadStartLock", Scene::ThreadStart, "RawMonitorEnter(Vesk)", 1, BAD_MONITOR),
        fails("ThreadStartUnlock", Scene::ThreadStart, "RawMonitorExit(Vesk)", 1, NOT_OWNER),
        fails("ThreadEndLock", Scene::ThreadEnd, "RawMonitorEnter(Vesk)", 1, BAD_MONITOR),
        fails("ThreadEndUnlock", Scene::ThreadEnd, "RawMonitorExit(Vesk)", 1, NOT_OWNER),
        fails("EntryLock", Scene::Entry, "RawMonitorEnter(Vesk)", 1, BAD_MONITOR),
        fails("EntryUnlock", Scene::Entry, "RawMonitorExit(Vesk)", 1, NOT_OWNER),
        fails("ExitLock", Scene::Exit, "RawMonitorEnter(Vesk)", 1, BAD_MONITOR),
        fails("ExitUnlock", Scene::Exit, "RawMonitorExit(Vesk)", 1, NOT_OWNER),
        fails("EntryUnlockInDeadPhase", Scene::EntryInDeadPhase, "RawMonitorExit(Vesk)", 1, NOT_OWNER),
        fails("ExitUnlockInDeadPhase", Scene::ExitInDeadPhase, "RawMonitorExit(Vesk)", 1, NOT_OWNER),

        // Thread start and end.
        fails("ThreadStartHash", Scene::ThreadStart, "GetObjectHashCode(B)", 1, BAD_OBJECT),
        fails("ThreadEndHash", Scene::ThreadEnd, "GetObjectHashCode(A)", 1, BAD_OBJECT),
        fails("ThreadEndSnapshotWaiters", Scene::ThreadEnd, "Deallocate(waiters:lock)", 1, BAD_MEMORY),
        fails("ThreadEndSnapshotNotifyWaiters", Scene::ThreadEnd, "Deallocate(notify_waiters:lock)", 2, BAD_MEMORY),

        // Every method entry and exit: the method's strings and the thread's hash.
        fails("EntryMethodName", Scene::Entry, "GetMethodName(get)", 1, BAD_METHOD),
        fails("EntryThreadHash", Scene::Entry, "GetObjectHashCode(A)", 1, BAD_THREAD),
        fails("EntryName", Scene::Entry, "Deallocate(name:get)", 1, BAD_MEMORY),
        fails("EntrySignature", Scene::Entry, "Deallocate(signature:get)", 2, BAD_MEMORY),
        fails("EntryGenericSignature", Scene::Entry, "Deallocate(generic:get)", 3, BAD_MEMORY),
        fails("ExitMethodName", Scene::Exit, "GetMethodName(get)", 1, BAD_METHOD),
        fails("ExitThreadHash", Scene::Exit, "GetObjectHashCode(A)", 1, BAD_THREAD),
        fails("ExitName", Scene::Exit, "Deallocate(name:get)", 1, BAD_MEMORY),
        fails("ExitSignature", Scene::Exit, "Deallocate(signature:get)", 2, BAD_MEMORY),
        fails("ExitGenericSignature", Scene::Exit, "Deallocate(generic:get)", 3, BAD_MEMORY),

        // The advice slots.
        fails("BeforeAdviceSlot", Scene::BeforeAdvice, "GetLocalInt(A,0,1)", 1, JVMTI_ERROR_INVALID_SLOT,
              "GetLocalObjectUid"),
        fails("AfterAdviceSlot", Scene::AfterAdvice, "SetLocalInt(A,0,1,7)", 1, JVMTI_ERROR_INVALID_SLOT,
              "SetLocalObjectUid"),

        // The entry of Thread.start: the classes, the started thread, the record.
        fails("StartDeclaringClass", Scene::ThreadStartEntry, "GetMethodDeclaringClass(start)", 1, BAD_METHOD),
        // FindClass only answers null; the report gives the code the agent chose.
        fails("StartFindClass", Scene::ThreadStartEntry, "FindClass(java/lang/Thread)", 1, JVMTI_ERROR_INTERNAL),
        outOfMemory("StartThreadClassReference", Scene::ThreadStartEntry, "NewGlobalRef(java/lang/Thread)", 1),
        outOfMemory("StartVirtualThreadClassReference", Scene::VirtualAwareStart,
                    "NewGlobalRef(java/lang/BaseVirtualThread)", 2),
        fails("StartStartedThread", Scene::ThreadStartEntry, "GetLocalObject(A,0,0)", 1, BAD_THREAD),
        fails("StartThreadState", Scene::ThreadStartEntry, "GetThreadState(B)", 1, BAD_THREAD),
        fails("StartStartedHash", Scene::ThreadStartEntry, "GetObjectHashCode(B)", 2, BAD_OBJECT),
        outOfMemory("StartRecord", Scene::ThreadStartEntry, "malloc(fails)", 1),
        fails("StartSignature", Scene::ThreadStartEntry, "Deallocate(signature:start)", 1, BAD_MEMORY),

        // The exit of Thread.start.
        fails("StartExitDeclaringClass", Scene::ThreadStartExit, "GetMethodDeclaringClass(start)", 1, BAD_METHOD),

        // The entry of notify: the old snapshots go, one new snapshot per owned monitor.
        fails("NotifyEntryOldWaiters", Scene::NotifyReentry, "Deallocate(waiters:lock)", 1, BAD_MEMORY),
        fails("NotifyEntryOldNotifyWaiters", Scene::NotifyReentry, "Deallocate(notify_waiters:lock)", 2, BAD_MEMORY),
        fails("NotifyEntryOwnedMonitors", Scene::NotifyEntry, "GetOwnedMonitorInfo(A)", 1, BAD_THREAD),
        outOfMemory("NotifyEntrySnapshot", Scene::NotifyEntry, "calloc(fails)", 1),
        fails("NotifyEntryUsage", Scene::NotifyEntry, "GetObjectMonitorUsage(lock)", 1, BAD_OBJECT),
        outOfMemory("NotifyEntryWaiterReference", Scene::NotifyEntry, "NewGlobalRef(W)", 1),
        outOfMemory("NotifyEntryMonitorReference", Scene::NotifyEntry, "NewGlobalRef(lock)", 2),
        outOfMemory("NotifyEntryQueueNode", Scene::NotifyEntry, "malloc(fails)", 2),
        fails("NotifyEntryMonitorArray", Scene::NotifyEntry, "Deallocate(monitors:A)", 1, BAD_MEMORY),

        // The exit of notify: a snapshot to compare with, the woken thread, then both go.
        fails("NotifyExitOwnedMonitors", Scene::NotifyExit, "GetOwnedMonitorInfo(A)", 1, BAD_THREAD),
        outOfMemory("NotifyExitSnapshot", Scene::NotifyExit, "calloc(fails)", 1),
        fails("NotifyExitUsage", Scene::NotifyExit, "GetObjectMonitorUsage(lock)", 1, BAD_OBJECT),
        fails("NotifyExitWokenHash", Scene::NotifyExit, "GetObjectHashCode(W)", 2, BAD_OBJECT),
        outOfMemory("NotifyExitRecord", Scene::NotifyExit, "malloc(fails)", 2),
        fails("NotifyExitAfterWaiters", Scene::NotifyExit, "Deallocate(waiters:lock)", 1, BAD_MEMORY),
        fails("NotifyExitAfterNotifyWaiters", Scene::NotifyExit, "Deallocate(notify_waiters:lock)", 2, BAD_MEMORY),
        fails("NotifyExitBeforeWaiters", Scene::NotifyExit, "Deallocate(waiters:lock)", 3, BAD_MEMORY),
        fails("NotifyExitBeforeNotifyWaiters", Scene::NotifyExit, "Deallocate(notify_waiters:lock)", 4, BAD_MEMORY),
        fails("NotifyExitMonitorArray", Scene::NotifyExit, "Deallocate(monitors:A)", 5, BAD_MEMORY),
        fails("NotifyExitSignature", Scene::NotifyExit, "Deallocate(signature:notify)", 6, BAD_MEMORY)),
    [](const auto& p) { return std::string(p.param.label); });

}  // namespace
