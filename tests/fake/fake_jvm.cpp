#include "tests/fake/fake_jvm.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

#include "agent/agent_state.h"

namespace fake {

namespace {

constexpr std::uintptr_t REF_BASE = 0x5ef000000000;
constexpr std::uintptr_t METHOD_BASE = 0x3e7000000000;
constexpr std::uintptr_t MONITOR_BASE = 0x40c000000000;
constexpr std::uintptr_t HANDLE_STEP = 16;

template <typename Handle>
Handle handleFor(std::uintptr_t base, std::size_t index) {
    return reinterpret_cast<Handle>(base + (index + 1) * HANDLE_STEP);
}

// The index a handle stands for, or -1 when it is no handle of this kind.
long indexOf(const void* handle, std::uintptr_t base, std::size_t count) {
    std::uintptr_t value = reinterpret_cast<std::uintptr_t>(handle);
    if (value <= base || (value - base) % HANDLE_STEP != 0) return -1;
    std::uintptr_t index = (value - base) / HANDLE_STEP - 1;
    return index < count ? static_cast<long>(index) : -1;
}

std::string eventName(jvmtiEvent event) {
    switch (event) {
        case JVMTI_EVENT_THREAD_START: return "ThreadStart";
        case JVMTI_EVENT_THREAD_END: return "ThreadEnd";
        case JVMTI_EVENT_METHOD_ENTRY: return "MethodEntry";
        case JVMTI_EVENT_METHOD_EXIT: return "MethodExit";
        default: return std::to_string(static_cast<int>(event));
    }
}

struct Delivery {
    std::uint64_t id;
    std::vector<std::size_t> locals;
    Delivery* outer;
};

thread_local Delivery* currentDelivery = nullptr;
thread_local int rawMonitorsHeld = 0;
thread_local bool exceptionPending = false;   // JNI: per thread, like a VM

std::atomic<int> heapCountdown{0};

}  // namespace

struct FakeJvm::Impl {
    struct Object {
        std::string name;
        ObjectId cls;
        jint hash;
        ObjectId superclass;   // for classes; NO_OBJECT at the root
        bool isClass;
        std::vector<ObjectId> owned;          // threads: monitors in the order taken
        ObjectId owner;                       // monitors
        std::vector<ObjectId> entryWaiters;   // monitors
        std::vector<ObjectId> notifyWaiters;  // monitors
        Frame frame;                          // threads: the current frame
        jint threadState = 0;                 // threads: JVMTI thread state bits; 0 is not yet started
    };
    struct Method {
        std::string name;
        std::string signature;
        std::optional<std::string> generic;
        ObjectId declaringClass;
        Frame defaultFrame;
    };
    struct Ref {
        ObjectId object;
        bool global;
        bool alive;
        bool stale;   // local whose delivery ended (as opposed to deleted)
    };
    struct RawMonitor {
        std::string name;
        std::mutex mutex;
        std::thread::id owner;
        int depth = 0;
    };
    struct Rule {
        int remaining;
        jint error;
    };
    struct Call {
        std::string name;
        std::string args;
    };

    // The embedded interfaces come first so that the callbacks find the Impl from them.
    struct VmHolder { JavaVM vm; Impl* impl; } vmHolder{};
    struct JvmtiHolder { jvmtiEnv env; Impl* impl; } jvmtiHolder{};
    struct JniHolder { JNIEnv env; Impl* impl; } jniHolder{};
    JNIInvokeInterface_ invokeTable{};
    jvmtiInterface_1_ jvmtiTable{};
    JNINativeInterface_ jniTable{};

    mutable std::recursive_mutex mutex;
    std::vector<Object> objects;
    std::deque<Method> methods;
    std::deque<RawMonitor> monitors;
    std::vector<Ref> refs;
    std::vector<std::size_t> freeRefs;
    std::map<const void*, std::string> blocks;
    std::map<std::string, Rule> rules;
    std::vector<Call> log;
    std::vector<std::string> problems;
    long failureAt = -1;       // the first injected failure that fired
    long lastFailureAt = -1;   // the latest: in a death test, the one that ended the process
    bool recording = true;
    bool reuseRefs = false;
    bool nullEnv = false;
    std::atomic<std::uint64_t> nextDelivery{0};   // deliveries come from several OS threads
    jint nextHash = 0x1000;
    ObjectId objectClassId = NO_OBJECT;
    ObjectId threadClassId = NO_OBJECT;
    bool enabled[JVMTI_MAX_EVENT_TYPE_VAL + 1] = {};
    jvmtiEventCallbacks eventCallbacks{};
    jint eventCallbacksSize = 0;
    jvmtiCapabilities possessed{};

    using Lock = std::lock_guard<std::recursive_mutex>;

    static Impl& of(JavaVM* vm) { return *reinterpret_cast<VmHolder*>(vm)->impl; }
    static Impl& of(jvmtiEnv* env) { return *reinterpret_cast<JvmtiHolder*>(env)->impl; }
    static Impl& of(JNIEnv* env) { return *reinterpret_cast<JniHolder*>(env)->impl; }

    void violation(const std::string& text) {
        Lock lock(mutex);
        problems.push_back(text);
    }

    std::string nameOf(ObjectId id) const {
        if (id == NO_OBJECT) return "null";
        return objects[static_cast<std::size_t>(id)].name;
    }

    ObjectId addObject(const std::string& name, ObjectId cls, jint hash, bool isClass, ObjectId superclass) {
        Lock lock(mutex);
        if (hash == 0) hash = nextHash += 0x11;
        objects.push_back(Object{name, cls, hash, superclass, isClass, {}, NO_OBJECT, {}, {}, Frame()});
        return static_cast<ObjectId>(objects.size() - 1);
    }

    // Records a call, checks the agent lock inside deliveries, and answers an injected error.
    jint enter(const char* function, const std::string& args, bool needsLock = true) {
        Lock lock(mutex);
        if (needsLock && currentDelivery != nullptr && rawMonitorsHeld == 0 && !monitors.empty()) {
            problems.push_back(std::string(function) + "(" + args + ") called without the agent lock");
        }
        if (recording) log.push_back(Call{function, args});
        auto rule = rules.find(function);
        if (rule == rules.end() || --rule->second.remaining > 0) return 0;
        jint error = rule->second.error;
        rules.erase(rule);
        if (failureAt < 0) failureAt = static_cast<long>(log.size()) - 1;
        lastFailureAt = static_cast<long>(log.size()) - 1;
        return error;
    }

    jobject newRef(ObjectId object, bool global) {
        if (object == NO_OBJECT) return nullptr;
        Lock lock(mutex);
        std::size_t index;
        if (!freeRefs.empty()) {
            index = freeRefs.back();
            freeRefs.pop_back();
            refs[index] = Ref{object, global, true, false};
        } else {
            index = refs.size();
            refs.push_back(Ref{object, global, true, false});
        }
        if (!global && currentDelivery != nullptr) currentDelivery->locals.push_back(index);
        return handleFor<jobject>(REF_BASE, index);
    }

    long refIndex(jobject ref) const { return indexOf(ref, REF_BASE, refs.size()); }

    // The object a reference names; reports handles that are no live reference.
    ObjectId resolve(jobject ref, const char* function) {
        if (ref == nullptr) return NO_OBJECT;
        Lock lock(mutex);
        long index = refIndex(ref);
        if (index < 0) {
            problems.push_back(std::string(function) + ": not a reference the fake handed out");
            return NO_OBJECT;
        }
        const Ref& r = refs[static_cast<std::size_t>(index)];
        if (!r.alive) {
            problems.push_back(std::string(function) + ": " +
                               (r.stale ? "stale local reference to " : "deleted reference to ") +
                               nameOf(r.object));
        }
        return r.object;
    }

    void kill(std::size_t index, bool stale) {
        refs[index].alive = false;
        refs[index].stale = stale;
        if (reuseRefs) freeRefs.push_back(index);
    }

    void deleteRef(jobject ref, bool global, const char* function) {
        if (ref == nullptr) return;
        Lock lock(mutex);
        long index = refIndex(ref);
        if (index < 0) {
            problems.push_back(std::string(function) + ": not a reference the fake handed out");
            return;
        }
        Ref& r = refs[static_cast<std::size_t>(index)];
        if (!r.alive) {
            problems.push_back(std::string(function) + ": " + (r.stale ? "stale local" : "already deleted") +
                               " reference to " + nameOf(r.object));
            return;
        }
        if (r.global != global) {
            problems.push_back(std::string(function) + " of a " + (r.global ? "global" : "local") +
                               " reference to " + nameOf(r.object));
            return;
        }
        kill(static_cast<std::size_t>(index), false);
    }

    unsigned char* allocate(std::size_t size, const std::string& what) {
        unsigned char* block = new unsigned char[size == 0 ? 1 : size];
        Lock lock(mutex);
        blocks[block] = what;
        return block;
    }

    char* allocateString(const std::string& text, const std::string& what) {
        char* block = reinterpret_cast<char*>(allocate(text.size() + 1, what));
        std::memcpy(block, text.c_str(), text.size() + 1);
        return block;
    }

    jobject* allocateRefs(const std::vector<ObjectId>& objectIds, const std::string& what) {
        jobject* array = reinterpret_cast<jobject*>(allocate(objectIds.size() * sizeof(jobject), what));
        for (std::size_t i = 0; i < objectIds.size(); ++i) array[i] = newRef(objectIds[i], false);
        return array;
    }

    Method* method(jmethodID id, const char* function) {
        long index = indexOf(id, METHOD_BASE, methods.size());
        if (index < 0) {
            violation(std::string(function) + ": not a method the fake handed out");
            return nullptr;
        }
        return &methods[static_cast<std::size_t>(index)];
    }

    RawMonitor* rawMonitor(jrawMonitorID id) {
        long index = indexOf(id, MONITOR_BASE, monitors.size());
        return index < 0 ? nullptr : &monitors[static_cast<std::size_t>(index)];
    }

    bool isAssignable(ObjectId sub, ObjectId super) const {
        for (ObjectId c = sub; c != NO_OBJECT; c = objects[static_cast<std::size_t>(c)].superclass) {
            if (c == super) return true;
        }
        return false;
    }

    bool deliver(jvmtiEvent event, ObjectId thread, jmethodID methodId, std::optional<Frame> frame,
                 bool byException) {
        void* callback = nullptr;
        {
            Lock lock(mutex);
            switch (event) {
                case JVMTI_EVENT_THREAD_START: callback = reinterpret_cast<void*>(eventCallbacks.ThreadStart); break;
                case JVMTI_EVENT_THREAD_END: callback = reinterpret_cast<void*>(eventCallbacks.ThreadEnd); break;
                case JVMTI_EVENT_METHOD_ENTRY: callback = reinterpret_cast<void*>(eventCallbacks.MethodEntry); break;
                case JVMTI_EVENT_METHOD_EXIT: callback = reinterpret_cast<void*>(eventCallbacks.MethodExit); break;
                default: break;
            }
            if (callback == nullptr || !enabled[event]) return false;
            Object& t = objects[static_cast<std::size_t>(thread)];
            if (methodId != nullptr) {
                Method* m = method(methodId, "delivery");
                t.frame = frame ? *frame : (m != nullptr ? m->defaultFrame : Frame());
            }
        }
        Delivery delivery{++nextDelivery, {}, currentDelivery};
        currentDelivery = &delivery;
        jthread threadRef = newRef(thread, false);
        jvmtiEnv* env = &jvmtiHolder.env;
        JNIEnv* jni = &jniHolder.env;
        switch (event) {
            case JVMTI_EVENT_THREAD_START: eventCallbacks.ThreadStart(env, jni, threadRef); break;
            case JVMTI_EVENT_THREAD_END: eventCallbacks.ThreadEnd(env, jni, threadRef); break;
            case JVMTI_EVENT_METHOD_ENTRY: eventCallbacks.MethodEntry(env, jni, threadRef, methodId); break;
            default: {
                jvalue none;
                none.j = 0;
                eventCallbacks.MethodExit(env, jni, threadRef, methodId, byException ? JNI_TRUE : JNI_FALSE,
                                          none);
            }
        }
        {
            Lock lock(mutex);
            for (std::size_t index : delivery.locals) {
                if (refs[index].alive) kill(index, true);
            }
            if (rawMonitorsHeld != 0) problems.push_back(eventName(event) + " delivery ended with the agent lock held");
            if (exceptionPending) problems.push_back(eventName(event) + " delivery ended with a JNI exception pending");
            exceptionPending = false;
        }
        currentDelivery = delivery.outer;
        return true;
    }

    // Tool functions.
    static jint JNICALL getEnv(JavaVM* vm, void** penv, jint version) {
        Impl& f = of(vm);
        char args[16];
        std::snprintf(args, sizeof args, "0x%08X", static_cast<unsigned>(version));
        jint error = f.enter("GetEnv", args, false);
        *penv = (error != 0 || f.nullEnv) ? nullptr : static_cast<void*>(&f.jvmtiHolder.env);
        return error;
    }

    static jvmtiError JNICALL addCapabilities(jvmtiEnv* env, const jvmtiCapabilities* caps) {
        Impl& f = of(env);
        std::uint32_t words[4];
        std::memcpy(words, caps, sizeof words);
        char args[64];
        std::snprintf(args, sizeof args, "0x%08X,%X,%X,%X", words[0], words[1], words[2], words[3]);
        if (jint error = f.enter("AddCapabilities", args, false)) return static_cast<jvmtiError>(error);
        Impl::Lock lock(f.mutex);
        std::uint32_t have[4];
        std::memcpy(have, &f.possessed, sizeof have);
        for (int i = 0; i < 4; ++i) have[i] |= words[i];
        std::memcpy(&f.possessed, have, sizeof have);
        return JVMTI_ERROR_NONE;
    }

    static jvmtiError JNICALL setEventCallbacks(jvmtiEnv* env, const jvmtiEventCallbacks* callbacks, jint size) {
        Impl& f = of(env);
        if (jint error = f.enter("SetEventCallbacks", std::to_string(size), false)) {
            return static_cast<jvmtiError>(error);
        }
        Impl::Lock lock(f.mutex);
        f.eventCallbacks = jvmtiEventCallbacks{};
        if (callbacks != nullptr) {
            std::size_t bytes = size < 0 ? 0 : static_cast<std::size_t>(size);
            std::memcpy(&f.eventCallbacks, callbacks, std::min(bytes, sizeof f.eventCallbacks));
        }
        f.eventCallbacksSize = size;
        return JVMTI_ERROR_NONE;
    }

    static jvmtiError JNICALL createRawMonitor(jvmtiEnv* env, const char* name, jrawMonitorID* monitor) {
        Impl& f = of(env);
        if (jint error = f.enter("CreateRawMonitor", name, false)) return static_cast<jvmtiError>(error);
        Impl::Lock lock(f.mutex);
        f.monitors.emplace_back();
        f.monitors.back().name = name;
        *monitor = handleFor<jrawMonitorID>(MONITOR_BASE, f.monitors.size() - 1);
        return JVMTI_ERROR_NONE;
    }

    static jvmtiError JNICALL setEventNotificationMode(jvmtiEnv* env, jvmtiEventMode mode, jvmtiEvent event,
                                                       jthread thread, ...) {
        Impl& f = of(env);
        std::string args = std::string(mode == JVMTI_ENABLE ? "ENABLE" : "DISABLE") + "," + eventName(event);
        if (thread != nullptr) args += "," + f.nameOf(f.resolve(thread, "SetEventNotificationMode"));
        if (jint error = f.enter("SetEventNotificationMode", args)) return static_cast<jvmtiError>(error);
        Impl::Lock lock(f.mutex);
        if (event < JVMTI_MIN_EVENT_TYPE_VAL || event > JVMTI_MAX_EVENT_TYPE_VAL) return JVMTI_ERROR_INVALID_EVENT_TYPE;
        if (thread != nullptr) {
            f.problems.push_back("SetEventNotificationMode at the thread level");
            return JVMTI_ERROR_NONE;
        }
        if ((event == JVMTI_EVENT_METHOD_ENTRY && !f.possessed.can_generate_method_entry_events) ||
            (event == JVMTI_EVENT_METHOD_EXIT && !f.possessed.can_generate_method_exit_events)) {
            return JVMTI_ERROR_MUST_POSSESS_CAPABILITY;
        }
        f.enabled[event] = mode == JVMTI_ENABLE;
        return JVMTI_ERROR_NONE;
    }

    static jvmtiError JNICALL rawMonitorEnter(jvmtiEnv* env, jrawMonitorID id) {
        Impl& f = of(env);
        RawMonitor* monitor;
        {
            Impl::Lock lock(f.mutex);
            monitor = f.rawMonitor(id);
            if (jint error = f.enter("RawMonitorEnter", monitor ? monitor->name : "?", false)) {
                return static_cast<jvmtiError>(error);
            }
            if (monitor == nullptr) return JVMTI_ERROR_INVALID_MONITOR;
            if (monitor->depth > 0 && monitor->owner == std::this_thread::get_id()) {
                f.problems.push_back("RawMonitorEnter of " + monitor->name + " by its owner");
                ++monitor->depth;
                ++rawMonitorsHeld;
                return JVMTI_ERROR_NONE;
            }
        }
        monitor->mutex.lock();
        Impl::Lock lock(f.mutex);
        monitor->owner = std::this_thread::get_id();
        monitor->depth = 1;
        ++rawMonitorsHeld;
        return JVMTI_ERROR_NONE;
    }

    static jvmtiError JNICALL rawMonitorExit(jvmtiEnv* env, jrawMonitorID id) {
        Impl& f = of(env);
        Impl::Lock lock(f.mutex);
        RawMonitor* monitor = f.rawMonitor(id);
        if (jint error = f.enter("RawMonitorExit", monitor ? monitor->name : "?", false)) {
            return static_cast<jvmtiError>(error);
        }
        if (monitor == nullptr) return JVMTI_ERROR_INVALID_MONITOR;
        if (monitor->depth == 0 || monitor->owner != std::this_thread::get_id()) {
            f.problems.push_back("RawMonitorExit of " + monitor->name + " by a thread that does not own it");
            return JVMTI_ERROR_NOT_MONITOR_OWNER;
        }
        --rawMonitorsHeld;
        if (--monitor->depth == 0) {
            monitor->owner = std::thread::id();
            monitor->mutex.unlock();
        }
        return JVMTI_ERROR_NONE;
    }

    static jvmtiError JNICALL getMethodName(jvmtiEnv* env, jmethodID id, char** name, char** signature,
                                            char** generic) {
        Impl& f = of(env);
        Impl::Lock lock(f.mutex);
        Method* m = f.method(id, "GetMethodName");
        if (jint error = f.enter("GetMethodName", m ? m->name : "?")) return static_cast<jvmtiError>(error);
        if (m == nullptr) return JVMTI_ERROR_INVALID_METHODID;
        if (name != nullptr) *name = f.allocateString(m->name, "name:" + m->name);
        if (signature != nullptr) *signature = f.allocateString(m->signature, "signature:" + m->name);
        if (generic != nullptr) *generic = m->generic ? f.allocateString(*m->generic, "generic:" + m->name) : nullptr;
        return JVMTI_ERROR_NONE;
    }

    static jvmtiError JNICALL getMethodDeclaringClass(jvmtiEnv* env, jmethodID id, jclass* cls) {
        Impl& f = of(env);
        Impl::Lock lock(f.mutex);
        Method* m = f.method(id, "GetMethodDeclaringClass");
        if (jint error = f.enter("GetMethodDeclaringClass", m ? m->name : "?")) return static_cast<jvmtiError>(error);
        if (m == nullptr) return JVMTI_ERROR_INVALID_METHODID;
        *cls = static_cast<jclass>(f.newRef(m->declaringClass, false));
        return JVMTI_ERROR_NONE;
    }

    static jvmtiError JNICALL getThreadState(jvmtiEnv* env, jthread thread, jint* state) {
        Impl& f = of(env);
        Impl::Lock lock(f.mutex);
        ObjectId id = f.resolve(thread, "GetThreadState");
        if (jint error = f.enter("GetThreadState", f.nameOf(id))) return static_cast<jvmtiError>(error);
        if (id == NO_OBJECT) return JVMTI_ERROR_INVALID_THREAD;
        *state = f.objects[static_cast<std::size_t>(id)].threadState;
        return JVMTI_ERROR_NONE;
    }

    static jvmtiError JNICALL getObjectHashCode(jvmtiEnv* env, jobject object, jint* hash) {
        Impl& f = of(env);
        Impl::Lock lock(f.mutex);
        ObjectId id = f.resolve(object, "GetObjectHashCode");
        if (jint error = f.enter("GetObjectHashCode", f.nameOf(id))) return static_cast<jvmtiError>(error);
        if (id == NO_OBJECT) return JVMTI_ERROR_INVALID_OBJECT;
        *hash = f.objects[static_cast<std::size_t>(id)].hash;
        return JVMTI_ERROR_NONE;
    }

    // The local of a thread's current frame, or the error a VM would answer.
    jvmtiError local(jthread thread, jint depth, jint slot, Local::Kind kind, const char* function,
                     const std::string& extra, Local** found) {
        ObjectId id = resolve(thread, function);
        char args[64];
        std::snprintf(args, sizeof args, ",%d,%d", static_cast<int>(depth), static_cast<int>(slot));
        if (jint error = enter(function, nameOf(id) + args + extra)) return static_cast<jvmtiError>(error);
        if (!possessed.can_access_local_variables) return JVMTI_ERROR_MUST_POSSESS_CAPABILITY;
        if (id == NO_OBJECT) return JVMTI_ERROR_INVALID_THREAD;
        if (depth != 0) return JVMTI_ERROR_NO_MORE_FRAMES;
        Frame& frame = objects[static_cast<std::size_t>(id)].frame;
        if (frame.isOpaque) return JVMTI_ERROR_OPAQUE_FRAME;
        auto it = frame.slots.find(slot);
        if (it == frame.slots.end()) return JVMTI_ERROR_INVALID_SLOT;
        if (it->second.kind != kind) return JVMTI_ERROR_TYPE_MISMATCH;
        *found = &it->second;
        return JVMTI_ERROR_NONE;
    }

    static jvmtiError JNICALL getLocalInt(jvmtiEnv* env, jthread thread, jint depth, jint slot, jint* value) {
        Impl& f = of(env);
        Impl::Lock lock(f.mutex);
        Local* found = nullptr;
        jvmtiError error = f.local(thread, depth, slot, Local::Kind::Int, "GetLocalInt", "", &found);
        if (error == JVMTI_ERROR_NONE) *value = found->value;
        return error;
    }

    static jvmtiError JNICALL setLocalInt(jvmtiEnv* env, jthread thread, jint depth, jint slot, jint value) {
        Impl& f = of(env);
        Impl::Lock lock(f.mutex);
        Local* found = nullptr;
        jvmtiError error =
            f.local(thread, depth, slot, Local::Kind::Int, "SetLocalInt", "," + std::to_string(value), &found);
        if (error == JVMTI_ERROR_NONE) found->value = value;
        return error;
    }

    static jvmtiError JNICALL getLocalObject(jvmtiEnv* env, jthread thread, jint depth, jint slot, jobject* value) {
        Impl& f = of(env);
        Impl::Lock lock(f.mutex);
        Local* found = nullptr;
        jvmtiError error = f.local(thread, depth, slot, Local::Kind::Object, "GetLocalObject", "", &found);
        if (error == JVMTI_ERROR_NONE) *value = f.newRef(found->object, false);
        return error;
    }

    static jvmtiError JNICALL getOwnedMonitorInfo(jvmtiEnv* env, jthread thread, jint* count, jobject** array) {
        Impl& f = of(env);
        Impl::Lock lock(f.mutex);
        ObjectId id = f.resolve(thread, "GetOwnedMonitorInfo");
        if (jint error = f.enter("GetOwnedMonitorInfo", f.nameOf(id))) return static_cast<jvmtiError>(error);
        if (!f.possessed.can_get_owned_monitor_info) return JVMTI_ERROR_MUST_POSSESS_CAPABILITY;
        if (id == NO_OBJECT) return JVMTI_ERROR_INVALID_THREAD;
        std::vector<ObjectId> owned = f.objects[static_cast<std::size_t>(id)].owned;
        *count = static_cast<jint>(owned.size());
        *array = f.allocateRefs(owned, "monitors:" + f.nameOf(id));
        return JVMTI_ERROR_NONE;
    }

    static jvmtiError JNICALL getObjectMonitorUsage(jvmtiEnv* env, jobject object, jvmtiMonitorUsage* usage) {
        Impl& f = of(env);
        Impl::Lock lock(f.mutex);
        ObjectId id = f.resolve(object, "GetObjectMonitorUsage");
        if (jint error = f.enter("GetObjectMonitorUsage", f.nameOf(id))) return static_cast<jvmtiError>(error);
        if (!f.possessed.can_get_monitor_info) return JVMTI_ERROR_MUST_POSSESS_CAPABILITY;
        if (id == NO_OBJECT) return JVMTI_ERROR_INVALID_OBJECT;
        Object monitor = f.objects[static_cast<std::size_t>(id)];
        // Like HotSpot, waiters lists the threads waiting to enter and those waiting to be notified.
        std::vector<ObjectId> waiters = monitor.entryWaiters;
        waiters.insert(waiters.end(), monitor.notifyWaiters.begin(), monitor.notifyWaiters.end());
        usage->owner = f.newRef(monitor.owner, false);
        usage->entry_count = monitor.owner == NO_OBJECT ? 0 : 1;
        usage->waiter_count = static_cast<jint>(waiters.size());
        usage->waiters = f.allocateRefs(waiters, "waiters:" + monitor.name);
        usage->notify_waiter_count = static_cast<jint>(monitor.notifyWaiters.size());
        usage->notify_waiters = f.allocateRefs(monitor.notifyWaiters, "notify_waiters:" + monitor.name);
        return JVMTI_ERROR_NONE;
    }

    static jvmtiError JNICALL allocateMemory(jvmtiEnv* env, jlong size, unsigned char** memory) {
        Impl& f = of(env);
        if (jint error = f.enter("Allocate", std::to_string(size))) return static_cast<jvmtiError>(error);
        if (size < 0) return JVMTI_ERROR_ILLEGAL_ARGUMENT;
        *memory = size == 0 ? nullptr : f.allocate(static_cast<std::size_t>(size), "Allocate");
        return JVMTI_ERROR_NONE;
    }

    static jvmtiError JNICALL deallocateMemory(jvmtiEnv* env, unsigned char* memory) {
        Impl& f = of(env);
        Impl::Lock lock(f.mutex);
        auto block = f.blocks.find(memory);
        std::string what = memory == nullptr ? "null" : block == f.blocks.end() ? "?" : block->second;
        if (jint error = f.enter("Deallocate", what)) return static_cast<jvmtiError>(error);
        if (memory == nullptr) return JVMTI_ERROR_NONE;
        if (block == f.blocks.end()) {
            f.problems.push_back("Deallocate of memory the fake did not hand out (or gave back twice)");
            return JVMTI_ERROR_NONE;
        }
        f.blocks.erase(block);
        delete[] memory;
        return JVMTI_ERROR_NONE;
    }

    // JNI functions.
    static jclass JNICALL findClass(JNIEnv* env, const char* name) {
        Impl& f = of(env);
        Impl::Lock lock(f.mutex);
        if (f.enter("FindClass", name)) return nullptr;
        for (std::size_t i = 0; i < f.objects.size(); ++i) {
            if (f.objects[i].isClass && f.objects[i].name == name) {
                return static_cast<jclass>(f.newRef(static_cast<ObjectId>(i), false));
            }
        }
        exceptionPending = true;   // NoClassDefFoundError, as on a VM
        return nullptr;
    }

    static jobject JNICALL newGlobalRef(JNIEnv* env, jobject ref) {
        Impl& f = of(env);
        Impl::Lock lock(f.mutex);
        ObjectId id = f.resolve(ref, "NewGlobalRef");
        if (f.enter("NewGlobalRef", f.nameOf(id))) return nullptr;
        return f.newRef(id, true);
    }

    static void JNICALL deleteGlobalRef(JNIEnv* env, jobject ref) {
        Impl& f = of(env);
        Impl::Lock lock(f.mutex);
        long index = f.refIndex(ref);
        f.enter("DeleteGlobalRef", index < 0 ? "null" : f.nameOf(f.refs[static_cast<std::size_t>(index)].object));
        f.deleteRef(ref, true, "DeleteGlobalRef");
    }

    static void JNICALL deleteLocalRef(JNIEnv* env, jobject ref) {
        Impl& f = of(env);
        Impl::Lock lock(f.mutex);
        long index = f.refIndex(ref);
        f.enter("DeleteLocalRef", index < 0 ? "null" : f.nameOf(f.refs[static_cast<std::size_t>(index)].object));
        f.deleteRef(ref, false, "DeleteLocalRef");
    }

    static jboolean JNICALL isSameObject(JNIEnv* env, jobject a, jobject b) {
        Impl& f = of(env);
        Impl::Lock lock(f.mutex);
        ObjectId x = f.resolve(a, "IsSameObject");
        ObjectId y = f.resolve(b, "IsSameObject");
        f.enter("IsSameObject", f.nameOf(x) + "," + f.nameOf(y));
        return x == y ? JNI_TRUE : JNI_FALSE;
    }

    static jboolean JNICALL isAssignableFrom(JNIEnv* env, jclass sub, jclass super) {
        Impl& f = of(env);
        Impl::Lock lock(f.mutex);
        ObjectId x = f.resolve(sub, "IsAssignableFrom");
        ObjectId y = f.resolve(super, "IsAssignableFrom");
        f.enter("IsAssignableFrom", f.nameOf(x) + "," + f.nameOf(y));
        if (x == NO_OBJECT || y == NO_OBJECT) {
            f.problems.push_back("IsAssignableFrom with a null class");
            return JNI_FALSE;
        }
        return f.isAssignable(x, y) ? JNI_TRUE : JNI_FALSE;
    }

    static jboolean JNICALL isInstanceOf(JNIEnv* env, jobject object, jclass cls) {
        Impl& f = of(env);
        Impl::Lock lock(f.mutex);
        ObjectId x = f.resolve(object, "IsInstanceOf");
        ObjectId y = f.resolve(cls, "IsInstanceOf");
        f.enter("IsInstanceOf", f.nameOf(x) + "," + f.nameOf(y));
        if (x == NO_OBJECT) return JNI_TRUE;   // null can be cast to any class
        return f.isAssignable(f.objects[static_cast<std::size_t>(x)].cls, y) ? JNI_TRUE : JNI_FALSE;
    }

    static jclass JNICALL getObjectClass(JNIEnv* env, jobject object) {
        Impl& f = of(env);
        Impl::Lock lock(f.mutex);
        ObjectId x = f.resolve(object, "GetObjectClass");
        f.enter("GetObjectClass", f.nameOf(x));
        if (x == NO_OBJECT) return nullptr;
        return static_cast<jclass>(f.newRef(f.objects[static_cast<std::size_t>(x)].cls, false));
    }

    static jboolean JNICALL exceptionCheck(JNIEnv* env) {
        of(env).enter("ExceptionCheck", "");
        return exceptionPending ? JNI_TRUE : JNI_FALSE;
    }

    static void JNICALL exceptionClear(JNIEnv* env) {
        of(env).enter("ExceptionClear", "");
        exceptionPending = false;
    }

    [[noreturn]] static void unanswered(const char* table, std::size_t slot) {
        std::fprintf(stderr, "fake jvm: the agent called %s function table slot %zu, which the fake does not answer\n",
                     table, slot);
        std::abort();
    }
    template <std::size_t Slot> static void jvmtiTrap() { unanswered("jvmtiInterface_1_", Slot); }
    template <std::size_t Slot> static void jniTrap() { unanswered("JNINativeInterface_", Slot); }
    template <std::size_t Slot> static void invokeTrap() { unanswered("JNIInvokeInterface_", Slot); }

    // Every slot starts as a trap that names itself; the answered ones are set after.
    template <typename Table, void (*Trap)(), std::size_t Slot>
    static void setTrap(Table& table) {
        void (*trap)() = Trap;
        std::memcpy(reinterpret_cast<char*>(&table) + Slot * sizeof trap, &trap, sizeof trap);
    }
    template <std::size_t... Slots>
    void fillTraps(std::index_sequence<Slots...>) {
        (setTrap<jvmtiInterface_1_, &jvmtiTrap<Slots>, Slots>(jvmtiTable), ...);
    }
    template <std::size_t... Slots>
    void fillJniTraps(std::index_sequence<Slots...>) {
        (setTrap<JNINativeInterface_, &jniTrap<Slots>, Slots>(jniTable), ...);
    }
    template <std::size_t... Slots>
    void fillInvokeTraps(std::index_sequence<Slots...>) {
        (setTrap<JNIInvokeInterface_, &invokeTrap<Slots>, Slots>(invokeTable), ...);
    }

    Impl() {
        fillTraps(std::make_index_sequence<sizeof(jvmtiInterface_1_) / sizeof(void*)>());
        fillJniTraps(std::make_index_sequence<sizeof(JNINativeInterface_) / sizeof(void*)>());
        fillInvokeTraps(std::make_index_sequence<sizeof(JNIInvokeInterface_) / sizeof(void*)>());
        invokeTable.GetEnv = getEnv;
        jvmtiTable.AddCapabilities = addCapabilities;
        jvmtiTable.SetEventCallbacks = setEventCallbacks;
        jvmtiTable.CreateRawMonitor = createRawMonitor;
        jvmtiTable.SetEventNotificationMode = setEventNotificationMode;
        jvmtiTable.RawMonitorEnter = rawMonitorEnter;
        jvmtiTable.RawMonitorExit = rawMonitorExit;
        jvmtiTable.GetMethodName = getMethodName;
        jvmtiTable.GetMethodDeclaringClass = getMethodDeclaringClass;
        jvmtiTable.GetObjectHashCode = getObjectHashCode;
        jvmtiTable.GetThreadState = getThreadState;
        jvmtiTable.GetLocalInt = getLocalInt;
        jvmtiTable.SetLocalInt = setLocalInt;
        jvmtiTable.GetLocalObject = getLocalObject;
        jvmtiTable.GetOwnedMonitorInfo = getOwnedMonitorInfo;
        jvmtiTable.GetObjectMonitorUsage = getObjectMonitorUsage;
        jvmtiTable.Allocate = allocateMemory;
        jvmtiTable.Deallocate = deallocateMemory;
        jniTable.FindClass = findClass;
        jniTable.NewGlobalRef = newGlobalRef;
        jniTable.DeleteGlobalRef = deleteGlobalRef;
        jniTable.DeleteLocalRef = deleteLocalRef;
        jniTable.IsSameObject = isSameObject;
        jniTable.IsAssignableFrom = isAssignableFrom;
        jniTable.IsInstanceOf = isInstanceOf;
        jniTable.GetObjectClass = getObjectClass;
        jniTable.ExceptionCheck = exceptionCheck;
        jniTable.ExceptionClear = exceptionClear;
        vmHolder.vm.functions = &invokeTable;
        vmHolder.impl = this;
        jvmtiHolder.env.functions = &jvmtiTable;
        jvmtiHolder.impl = this;
        jniHolder.env.functions = &jniTable;
        jniHolder.impl = this;

        objectClassId = addObject("java/lang/Object", NO_OBJECT, 0, true, NO_OBJECT);
        threadClassId = addObject("java/lang/Thread", NO_OBJECT, 0, true, objectClassId);
    }
};

namespace {
FakeJvm::Impl* heapImpl = nullptr;   // the fake that notes a failed allocation
}

FakeJvm::FakeJvm() : impl_(std::make_unique<Impl>()) { heapImpl = impl_.get(); }

FakeJvm::~FakeJvm() {
    if (heapImpl == impl_.get()) heapImpl = nullptr;
    heapCountdown = 0;
    for (auto& block : impl_->blocks) delete[] static_cast<const unsigned char*>(block.first);
}

JavaVM* FakeJvm::vm() { return &impl_->vmHolder.vm; }
jvmtiEnv* FakeJvm::jvmti() { return &impl_->jvmtiHolder.env; }
JNIEnv* FakeJvm::jni() { return &impl_->jniHolder.env; }

ObjectId FakeJvm::objectClass() const { return impl_->objectClassId; }
ObjectId FakeJvm::threadClass() const { return impl_->threadClassId; }

ObjectId FakeJvm::newClass(const std::string& name, ObjectId superclass) {
    return impl_->addObject(name, NO_OBJECT, 0, true, superclass == NO_OBJECT ? impl_->objectClassId : superclass);
}

ObjectId FakeJvm::newThread(const std::string& name, ObjectId cls, jint hash) {
    return impl_->addObject(name, cls == NO_OBJECT ? impl_->threadClassId : cls, hash, false, NO_OBJECT);
}

ObjectId FakeJvm::newObject(const std::string& name, ObjectId cls, jint hash) {
    return impl_->addObject(name, cls == NO_OBJECT ? impl_->objectClassId : cls, hash, false, NO_OBJECT);
}

jint FakeJvm::hashOf(ObjectId object) const {
    Impl::Lock lock(impl_->mutex);
    return impl_->objects[static_cast<std::size_t>(object)].hash;
}

jmethodID FakeJvm::newMethod(const std::string& name, ObjectId declaringClass,
                             std::optional<std::string> genericSignature, const std::string& signature,
                             const Frame& defaultFrame) {
    Impl::Lock lock(impl_->mutex);
    impl_->methods.push_back(Impl::Method{name, signature, std::move(genericSignature), declaringClass, defaultFrame});
    return handleFor<jmethodID>(METHOD_BASE, impl_->methods.size() - 1);
}

void FakeJvm::setOwner(ObjectId monitor, ObjectId thread) {
    Impl::Lock lock(impl_->mutex);
    auto& m = impl_->objects[static_cast<std::size_t>(monitor)];
    if (m.owner != NO_OBJECT) {
        auto& owned = impl_->objects[static_cast<std::size_t>(m.owner)].owned;
        owned.erase(std::remove(owned.begin(), owned.end(), monitor), owned.end());
    }
    m.owner = thread;
    if (thread != NO_OBJECT) impl_->objects[static_cast<std::size_t>(thread)].owned.push_back(monitor);
}

void FakeJvm::setNotifyWaiters(ObjectId monitor, const std::vector<ObjectId>& threads) {
    Impl::Lock lock(impl_->mutex);
    impl_->objects[static_cast<std::size_t>(monitor)].notifyWaiters = threads;
}

void FakeJvm::setThreadState(ObjectId thread, jint state) {
    Impl::Lock lock(impl_->mutex);
    impl_->objects[static_cast<std::size_t>(thread)].threadState = state;
}

void FakeJvm::setEntryWaiters(ObjectId monitor, const std::vector<ObjectId>& threads) {
    Impl::Lock lock(impl_->mutex);
    impl_->objects[static_cast<std::size_t>(monitor)].entryWaiters = threads;
}

std::optional<jint> FakeJvm::localInt(ObjectId thread, jint slot) const {
    Impl::Lock lock(impl_->mutex);
    const Frame& frame = impl_->objects[static_cast<std::size_t>(thread)].frame;
    auto it = frame.slots.find(slot);
    if (it == frame.slots.end() || it->second.kind != Local::Kind::Int) return std::nullopt;
    return it->second.value;
}

// A thread runs from its start on and has ended after its end, delivered or not.
bool FakeJvm::threadStart(ObjectId thread) {
    setThreadState(thread, JVMTI_THREAD_STATE_ALIVE | JVMTI_THREAD_STATE_RUNNABLE);
    return impl_->deliver(JVMTI_EVENT_THREAD_START, thread, nullptr, std::nullopt, false);
}
bool FakeJvm::threadEnd(ObjectId thread) {
    bool delivered = impl_->deliver(JVMTI_EVENT_THREAD_END, thread, nullptr, std::nullopt, false);
    setThreadState(thread, JVMTI_THREAD_STATE_TERMINATED);
    return delivered;
}
bool FakeJvm::methodEntry(ObjectId thread, jmethodID method, std::optional<Frame> frame) {
    return impl_->deliver(JVMTI_EVENT_METHOD_ENTRY, thread, method, std::move(frame), false);
}
bool FakeJvm::methodExit(ObjectId thread, jmethodID method, std::optional<Frame> frame, bool byException) {
    return impl_->deliver(JVMTI_EVENT_METHOD_EXIT, thread, method, std::move(frame), byException);
}

bool FakeJvm::isEnabled(jvmtiEvent event) const {
    Impl::Lock lock(impl_->mutex);
    return impl_->enabled[event];
}
jvmtiEventCallbacks FakeJvm::callbacks() const {
    Impl::Lock lock(impl_->mutex);
    return impl_->eventCallbacks;
}
jint FakeJvm::callbacksSize() const {
    Impl::Lock lock(impl_->mutex);
    return impl_->eventCallbacksSize;
}
jvmtiCapabilities FakeJvm::capabilities() const {
    Impl::Lock lock(impl_->mutex);
    return impl_->possessed;
}
std::vector<std::string> FakeJvm::rawMonitorNames() const {
    Impl::Lock lock(impl_->mutex);
    std::vector<std::string> names;
    for (const auto& monitor : impl_->monitors) names.push_back(monitor.name);
    return names;
}
bool FakeJvm::rawMonitorHeld() const {
    Impl::Lock lock(impl_->mutex);
    for (const auto& monitor : impl_->monitors) {
        if (monitor.depth > 0) return true;
    }
    return false;
}

void FakeJvm::failCall(const std::string& function, jint error, int nth) {
    Impl::Lock lock(impl_->mutex);
    impl_->rules[function] = Impl::Rule{nth, error};
}
void FakeJvm::getEnvGivesNull() { impl_->nullEnv = true; }
void FakeJvm::failHeapAllocation(int nth) { heapCountdown = nth; }

std::vector<std::string> FakeJvm::calls() const {
    Impl::Lock lock(impl_->mutex);
    std::vector<std::string> texts;
    for (const auto& call : impl_->log) texts.push_back(call.name + "(" + call.args + ")");
    return texts;
}
std::vector<std::string> FakeJvm::callsOf(const std::string& function) const {
    Impl::Lock lock(impl_->mutex);
    std::vector<std::string> texts;
    for (const auto& call : impl_->log) {
        if (call.name == function) texts.push_back(call.name + "(" + call.args + ")");
    }
    return texts;
}
std::vector<std::string> FakeJvm::callsAfterFailure() const {
    Impl::Lock lock(impl_->mutex);
    std::vector<std::string> texts;
    if (impl_->failureAt < 0) return texts;
    for (std::size_t i = static_cast<std::size_t>(impl_->failureAt) + 1; i < impl_->log.size(); ++i) {
        texts.push_back(impl_->log[i].name + "(" + impl_->log[i].args + ")");
    }
    return texts;
}
std::vector<std::string> FakeJvm::callsAfterLastFailure() const {
    Impl::Lock lock(impl_->mutex);
    std::vector<std::string> texts;
    if (impl_->lastFailureAt < 0) return texts;
    for (std::size_t i = static_cast<std::size_t>(impl_->lastFailureAt) + 1; i < impl_->log.size(); ++i) {
        texts.push_back(impl_->log[i].name + "(" + impl_->log[i].args + ")");
    }
    return texts;
}
std::string FakeJvm::lastFailedCall() const {
    Impl::Lock lock(impl_->mutex);
    if (impl_->lastFailureAt < 0 || static_cast<std::size_t>(impl_->lastFailureAt) >= impl_->log.size()) return "";
    const Impl::Call& call = impl_->log[static_cast<std::size_t>(impl_->lastFailureAt)];
    return call.name + "(" + call.args + ")";
}
void FakeJvm::clearCalls() {
    Impl::Lock lock(impl_->mutex);
    impl_->log.clear();
    impl_->failureAt = -1;
    impl_->lastFailureAt = -1;
}
void FakeJvm::recordCalls(bool on) {
    Impl::Lock lock(impl_->mutex);
    impl_->recording = on;
}
void FakeJvm::reuseDeadRefs(bool on) {
    Impl::Lock lock(impl_->mutex);
    impl_->reuseRefs = on;
}

std::vector<std::string> FakeJvm::violations() const {
    Impl::Lock lock(impl_->mutex);
    return impl_->problems;
}
void FakeJvm::clearViolations() {
    Impl::Lock lock(impl_->mutex);
    impl_->problems.clear();
}
std::set<const void*> FakeJvm::liveBlocks() const {
    Impl::Lock lock(impl_->mutex);
    std::set<const void*> live;
    for (const auto& block : impl_->blocks) live.insert(block.first);
    return live;
}
std::set<jobject> FakeJvm::liveGlobalRefs() const {
    Impl::Lock lock(impl_->mutex);
    std::set<jobject> live;
    for (std::size_t i = 0; i < impl_->refs.size(); ++i) {
        if (impl_->refs[i].global && impl_->refs[i].alive) live.insert(handleFor<jobject>(REF_BASE, i));
    }
    return live;
}
std::string FakeJvm::describe(const void* block) const {
    Impl::Lock lock(impl_->mutex);
    auto it = impl_->blocks.find(block);
    return it == impl_->blocks.end() ? "?" : it->second;
}
std::string FakeJvm::describe(jobject ref) const {
    Impl::Lock lock(impl_->mutex);
    long index = impl_->refIndex(ref);
    if (index < 0) return ref == nullptr ? "null" : "?";
    const Impl::Ref& r = impl_->refs[static_cast<std::size_t>(index)];
    return std::string(r.global ? "global " : "local ") + impl_->nameOf(r.object);
}
ObjectId FakeJvm::objectOf(jobject ref) const {
    Impl::Lock lock(impl_->mutex);
    long index = impl_->refIndex(ref);
    return index < 0 ? NO_OBJECT : impl_->refs[static_cast<std::size_t>(index)].object;
}

namespace {

// The armed allocation fails once; the fake's log notes it as the failure point.
bool heapAllocationFails(const char* function) {
    if (heapCountdown.load() <= 0 || heapCountdown.fetch_sub(1) != 1) return false;
    if (heapImpl != nullptr) {
        FakeJvm::Impl::Lock lock(heapImpl->mutex);
        heapImpl->log.push_back(FakeJvm::Impl::Call{function, "fails"});
        if (heapImpl->failureAt < 0) heapImpl->failureAt = static_cast<long>(heapImpl->log.size()) - 1;
        heapImpl->lastFailureAt = static_cast<long>(heapImpl->log.size()) - 1;
    }
    return true;
}

int exitReportFd = -1;
int failedCallFd = -1;
FakeJvm* exitReportFake = nullptr;

void writeLine(int fd, const std::string& text) {
    std::string line = text + "\n";
    if (write(fd, line.data(), line.size()) < 0) return;
}

// Runs at exit in a death test's child: the call the last injected failure fired on (the
// one that ended the process; an earlier one was answered quietly), and the calls after it.
void reportCallsAfterFailure() {
    if (exitReportFake == nullptr || exitReportFd < 0) return;
    if (failedCallFd >= 0) writeLine(failedCallFd, exitReportFake->lastFailedCall());
    for (const std::string& call : exitReportFake->callsAfterLastFailure()) writeLine(exitReportFd, call);
}

std::string readAll(int fd) {
    std::string text;
    char buffer[4096];
    lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
    return text;
}

int temporaryFile() {
    char path[] = "/tmp/veskline-fake-XXXXXX";
    int fd = mkstemp(path);
    if (fd >= 0) unlink(path);
    return fd;
}

}  // namespace

namespace {

void runFatal(FakeJvm& fk, const std::string* failedCall, const std::function<void()>& body,
              const std::string& stdoutText, FatalSink sink) {
    // The child must share the open file or pipe, so it is forked, not run afresh. That is safe
    // here: no test runs threads of its own around a death test. Under the sanitizers a report
    // in the child changes its exit status (ThreadSanitizer 66, AddressSanitizer 1), which the
    // check for 255 then catches.
    GTEST_FLAG_SET(death_test_style, "fast");
    int out[2] = {-1, -1};
    if (sink == FatalSink::Pipe) {
        ASSERT_EQ(pipe(out), 0);
    } else {
        out[0] = out[1] = temporaryFile();
        ASSERT_GE(out[0], 0);
    }
    int after = temporaryFile();
    ASSERT_GE(after, 0);
    int failed = temporaryFile();
    ASSERT_GE(failed, 0);
    EXPECT_EXIT(
        {
            std::fflush(stdout);
            dup2(out[1], STDOUT_FILENO);
            exitReportFd = after;
            failedCallFd = failed;
            exitReportFake = &fk;
            std::atexit(reportCallsAfterFailure);
            body();
        },
        ::testing::ExitedWithCode(255), "");
    if (sink == FatalSink::Pipe) close(out[1]);
    EXPECT_EQ(readAll(out[0]), stdoutText);
    std::string later = readAll(after);
    EXPECT_EQ(later, "") << "tool calls after the injected failure";
    if (failedCall != nullptr) {
        EXPECT_EQ(readAll(failed), *failedCall + "\n") << "the call the failure fired on";
    }
    close(out[0]);
    close(after);
    close(failed);
}

}  // namespace

void expectFatal(FakeJvm& fk, const std::function<void()>& body, const std::string& stdoutText, FatalSink sink) {
    runFatal(fk, nullptr, body, stdoutText, sink);
}

void expectFatalAt(FakeJvm& fk, const std::string& failedCall, const std::function<void()>& body,
                   const std::string& stdoutText, FatalSink sink) {
    runFatal(fk, &failedCall, body, stdoutText, sink);
}

void resetAgentState() {
    // What the agent keeps for good would only pile up from test to test.
    for (ThrContext* record = agentState.contextHistory.head; record != nullptr;) {
        ThrContext* next = record->next;
        std::free(record);
        record = next;
    }
    for (ThrInfo* node = agentState.snapshotQueue.head; node != nullptr;) {
        ThrInfo* next = node->next;
        std::free(node->snapshot);
        std::free(node);
        node = next;
    }
    std::memset(&agentState, 0, sizeof agentState);
}

void FakeJvmTest::SetUp() { resetAgentState(); }

void FakeJvmTest::TearDown() { EXPECT_THAT(fk.violations(), ::testing::IsEmpty()); }

jint FakeJvmTest::loadAgent(const char* options) {
    return Agent_OnLoad(fk.vm(), const_cast<char*>(options), nullptr);
}

void AgentTest::SetUp() {
    FakeJvmTest::SetUp();
    ASSERT_EQ(loadAgent(), JNI_OK);
    mainThread = fk.newThread("main");
    ASSERT_TRUE(fk.threadStart(mainThread));
    fk.clearCalls();
}

jint AgentTest::uidOf(ObjectId thread) const { return lookupUid(agentState.uidTable, fk.hashOf(thread)); }

void AgentTest::expectClean() {
    std::set<const void*> keptBlocks;
    std::set<jobject> keptRefs;
    for (const ThrContext* record = agentState.contextHistory.head; record != nullptr; record = record->next) {
        keptBlocks.insert(record->methodName);
    }
    for (const ThrInfo* node = agentState.snapshotQueue.head; node != nullptr; node = node->next) {
        keptBlocks.insert(node->snapshot->waiters);
        keptBlocks.insert(node->snapshot->notify_waiters);
        keptRefs.insert(node->monitor);
        for (jint i = 0; i < node->snapshot->notify_waiter_count; ++i) keptRefs.insert(node->snapshot->notify_waiters[i]);
    }
    if (agentState.threadClass != nullptr) keptRefs.insert(agentState.threadClass);
    if (agentState.virtualThreadClass != nullptr) keptRefs.insert(agentState.virtualThreadClass);
    for (const void* block : fk.liveBlocks()) {
        EXPECT_TRUE(keptBlocks.count(block)) << "tool memory not given back: " << fk.describe(block);
    }
    for (jobject ref : fk.liveGlobalRefs()) {
        EXPECT_TRUE(keptRefs.count(ref)) << "global reference not deleted: " << fk.describe(ref);
    }
    EXPECT_FALSE(fk.rawMonitorHeld());
}

}  // namespace fake

extern "C" void* __real_malloc(std::size_t size);
extern "C" void* __real_calloc(std::size_t count, std::size_t size);

extern "C" void* __wrap_malloc(std::size_t size) {
    return fake::heapAllocationFails("malloc") ? nullptr : __real_malloc(size);
}

extern "C" void* __wrap_calloc(std::size_t count, std::size_t size) {
    return fake::heapAllocationFails("calloc") ? nullptr : __real_calloc(count, size);
}
