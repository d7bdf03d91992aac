// A scriptable stand-in for the virtual machine, for driving the agent's handlers
// without a JVM. It hands out real JavaVM, jvmtiEnv and JNIEnv objects whose
// function tables point at a small object model.
//
// Quick tour
//
//   FakeJvm fk;                                   // one per test; the fixtures below make it
//   Agent_OnLoad(fk.vm(), nullptr, nullptr);      // or derive from AgentTest, which does this
//   ObjectId a = fk.newThread("A");               // threads, objects, classes are ObjectIds
//   jmethodID before = fk.newMethod("beforeAdvice", fk.objectClass());
//   fk.threadStart(a);                            // delivers ThreadStart if the agent enabled it
//   fk.methodEntry(a, before, Frame().withInt(1, 7));   // false when MethodEntry is off
//   fk.callsOf("Deallocate");                     // {"Deallocate(name:beforeAdvice)", ...}
//
// Object model
//   objectClass(), threadClass() are java/lang/Object and java/lang/Thread;
//   newClass(name, super) adds more (a Thread subclass, java/util/regex/Matcher, ...).
//   newThread(name[, class][, hash]) and newObject(name[, class][, hash]); a hash of 0 picks a
//   fresh distinct one; hashOf(id) gives it. newMethod(name, class[, generic][, signature]
//   [, default frame]): generic is std::nullopt for a method without generic signature.
//   Monitors are plain objects: setOwner(monitor, thread) (NO_OBJECT releases it; the thread's
//   owned list keeps ownership order), setNotifyWaiters(monitor, {..}) (threads in wait(),
//   duplicates allowed, as JDK 17 lists them), setEntryWaiters(monitor, {..}). Change them
//   between an entry and an exit to show a notify. setThreadState(thread, bits) is what
//   GetThreadState answers: 0 (not yet started) until threadStart makes it alive, and
//   threadEnd terminated. FindClass of a class the fake
//   does not know answers null with a JNI exception pending until ExceptionClear; a delivery
//   that ends with one pending is a violation. newClass("java/lang/BaseVirtualThread",
//   threadClass()) makes the fake look like JDK 21 or later.
//   Frames: each delivery sets the thread's current frame, from the Frame given or else the
//   method's default frame: slot -> int, object (NO_OBJECT is null) or absent; opaque() makes
//   every local access answer OPAQUE_FRAME. A local of the wrong kind answers TYPE_MISMATCH, an
//   absent one INVALID_SLOT. localInt(thread, slot) reads back what SetLocalInt wrote.
//
// Events (deliveries)
//   threadStart, threadEnd, methodEntry, methodExit(thread, method[, frame][, byException])
//   call the callback the agent installed, on the calling OS thread, only while the agent has
//   enabled that event at the global level (and installed a callback); they return whether
//   they delivered. Several OS threads may deliver at once. isEnabled(event), callbacks(),
//   callbacksSize(), capabilities(), rawMonitorNames() show what the agent set up.
//
// References and memory
//   Every jobject is a distinct handle. Local references handed out during a delivery die when
//   it ends; global references live until DeleteGlobalRef. Using a dead one, deleting twice,
//   deleting a local as a global (or the reverse), giving back memory the fake never handed
//   out, a tool call made inside a delivery without the agent's raw monitor held by the calling
//   thread, entering the raw monitor twice, or ending a delivery with it held: each adds a line
//   to violations(). liveBlocks() are the Allocate'd blocks (method strings, monitor arrays,
//   usage arrays) not yet given back, liveGlobalRefs() the global references not yet deleted;
//   describe(...) names either, objectOf(ref) tells what a reference names.
//
// Faults
//   failCall(function, error[, nth]): the nth call (1-based, counted from now) of that
//   function answers error. Tool functions return it; GetEnv returns it as its jint; the JNI
//   functions that can fail (FindClass, NewGlobalRef) answer null for any error.
//   getEnvGivesNull(): GetEnv answers JNI_OK with a null environment.
//   failHeapAllocation([nth]): the nth std::malloc/std::calloc made from now on by code linked
//   into the test executable (the agent's objects; the fake itself never uses them) answers
//   null. Executables that link veskline_fake are linked with -Wl,--wrap=malloc,--wrap=calloc,
//   so those calls pass through a counter; everything else (operator new, gtest, libc) is
//   untouched.
//
// Calls
//   Every call is recorded in order as "Function(key args)" (objects by name, memory blocks
//   as kind:method or kind:object, e.g. "Deallocate(generic:start)", "Deallocate(null)").
//   calls(), callsOf(function), clearCalls(); recordCalls(false) for long runs.
//   callsAfterFailure(): the calls made after the first injected failure fired;
//   callsAfterLastFailure() the same after the latest one, lastFailedCall() the call that one
//   fired on ("" before any), e.g. "Deallocate(notify_waiters:lock)", or "calloc(fails)" for
//   a heap allocation.
//   reuseDeadRefs(true) recycles dead reference handles (long runs; stale use then goes
//   unnoticed, as on a real VM).
//
// Fixtures (bottom of this file)
//   FakeJvmTest: zeroed agentState, a fresh fake, the agent not loaded; checks violations() at
//   the end of every test. AgentTest: the same, loaded through Agent_OnLoad, with a thread
//   "main" started (so method events are on, as in a JVM) and the call log cleared; uidOf(),
//   expectClean(). expectFatal(body, stdoutText[, FatalSink::Pipe]) runs body in a death test
//   with stdout on a temporary file (or a pipe) and checks the exact text, exit status 255 and
//   that no tool call followed the injected failure (with several, the last to fire, which
//   ended the process). expectFatalAt(failedCall, body, stdoutText) also checks which call that
//   failure fired on, as lastFailedCall() writes it.
#pragma once

#include <jni.h>
#include <jvmti.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace fake {

using ObjectId = int;
constexpr ObjectId NO_OBJECT = -1;

struct Local {
    enum class Kind { Int, Object };
    Kind kind;
    jint value;        // Int
    ObjectId object;   // Object; NO_OBJECT is null
};

struct Frame {
    bool isOpaque = false;
    std::map<jint, Local> slots;   // a slot not listed is absent

    Frame& withInt(jint slot, jint value) {
        slots[slot] = Local{Local::Kind::Int, value, NO_OBJECT};
        return *this;
    }
    Frame& withObject(jint slot, ObjectId object) {
        slots[slot] = Local{Local::Kind::Object, 0, object};
        return *this;
    }
    Frame& opaque() {
        isOpaque = true;
        return *this;
    }
};

class FakeJvm {
public:
    FakeJvm();
    ~FakeJvm();
    FakeJvm(const FakeJvm&) = delete;
    FakeJvm& operator=(const FakeJvm&) = delete;

    JavaVM* vm();
    jvmtiEnv* jvmti();
    JNIEnv* jni();

    // Object model.
    ObjectId objectClass() const;
    ObjectId threadClass() const;
    ObjectId newClass(const std::string& name, ObjectId superclass);
    ObjectId newThread(const std::string& name, ObjectId cls = NO_OBJECT, jint hash = 0);
    ObjectId newObject(const std::string& name, ObjectId cls = NO_OBJECT, jint hash = 0);
    jint hashOf(ObjectId object) const;
    jmethodID newMethod(const std::string& name, ObjectId declaringClass,
                        std::optional<std::string> genericSignature = std::nullopt,
                        const std::string& signature = "()V", const Frame& defaultFrame = Frame());
    void setOwner(ObjectId monitor, ObjectId thread);
    void setNotifyWaiters(ObjectId monitor, const std::vector<ObjectId>& threads);
    void setEntryWaiters(ObjectId monitor, const std::vector<ObjectId>& threads);
    // GetThreadState's answer; threads start as 0, not yet started.
    void setThreadState(ObjectId thread, jint state);
    std::optional<jint> localInt(ObjectId thread, jint slot) const;

    // Deliveries; true when the event reached the agent.
    bool threadStart(ObjectId thread);
    bool threadEnd(ObjectId thread);
    bool methodEntry(ObjectId thread, jmethodID method, std::optional<Frame> frame = std::nullopt);
    bool methodExit(ObjectId thread, jmethodID method, std::optional<Frame> frame = std::nullopt,
                    bool byException = false);

    // What the agent set up.
    bool isEnabled(jvmtiEvent event) const;
    jvmtiEventCallbacks callbacks() const;
    jint callbacksSize() const;
    jvmtiCapabilities capabilities() const;
    std::vector<std::string> rawMonitorNames() const;
    bool rawMonitorHeld() const;   // by any thread

    // Faults.
    void failCall(const std::string& function, jint error, int nth = 1);
    void getEnvGivesNull();
    void failHeapAllocation(int nth = 1);

    // Call log.
    std::vector<std::string> calls() const;
    std::vector<std::string> callsOf(const std::string& function) const;
    std::vector<std::string> callsAfterFailure() const;
    std::vector<std::string> callsAfterLastFailure() const;
    std::string lastFailedCall() const;
    void clearCalls();
    void recordCalls(bool on);
    void reuseDeadRefs(bool on);

    // Accounting.
    std::vector<std::string> violations() const;
    void clearViolations();
    std::set<const void*> liveBlocks() const;
    std::set<jobject> liveGlobalRefs() const;
    std::string describe(const void* block) const;
    std::string describe(jobject ref) const;
    ObjectId objectOf(jobject ref) const;   // NO_OBJECT for null or a handle never handed out

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

enum class FatalSink { File, Pipe };

// Runs body in a death test with stdout sent to sink; expects exit status 255, exactly
// stdoutText on stdout, and no tool call after the (last) failure that fake injected.
void expectFatal(FakeJvm& fk, const std::function<void()>& body, const std::string& stdoutText,
                 FatalSink sink = FatalSink::File);
// The same, and that failure fired on exactly failedCall.
void expectFatalAt(FakeJvm& fk, const std::string& failedCall, const std::function<void()>& body,
                   const std::string& stdoutText, FatalSink sink = FatalSink::File);

// Zeroes the agent's process-wide state, as at process start, first freeing the records
// and queue nodes a previous test's agent kept.
void resetAgentState();

class FakeJvmTest : public ::testing::Test {
protected:
    FakeJvm fk;
    void SetUp() override;
    void TearDown() override;
    jint loadAgent(const char* options = nullptr);
    void expectFatal(const std::function<void()>& body, const std::string& stdoutText,
                     FatalSink sink = FatalSink::File) {
        fake::expectFatal(fk, body, stdoutText, sink);
    }
    void expectFatalAt(const std::string& failedCall, const std::function<void()>& body,
                       const std::string& stdoutText, FatalSink sink = FatalSink::File) {
        fake::expectFatalAt(fk, failedCall, body, stdoutText, sink);
    }
};

class AgentTest : public FakeJvmTest {
protected:
    ObjectId mainThread = NO_OBJECT;
    void SetUp() override;
    jint uidOf(ObjectId thread) const;
    // Nothing is held but what the agent keeps on purpose: the names its history refers to,
    // the queued snapshots with their references, and its java.lang.Thread reference.
    void expectClean();
};

}  // namespace fake
