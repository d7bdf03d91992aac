// Every fatal path of the handlers: the one stdout line, exit status 255, no tool call after.
#include "handler_scene.h"

using namespace fake;

namespace {

enum class Scene { ThreadStart, ThreadEnd, Entry, ThreadStartEntry, NotifyEntry, ThreadStartExit, NotifyExit };

struct FatalPath {
    const char* label;
    Scene scene;
    const char* function;   // "malloc"/"calloc": the nth heap allocation fails
    int nth;
    jint error;
    const char* word;       // null: the no-memory report
};

class HandlerFatalDeathTest : public HandlerTest, public ::testing::WithParamInterface<FatalPath> {
protected:
    ObjectId a = fk.newThread("A");
    ObjectId b = fk.newThread("B");
    ObjectId w = fk.newThread("W");
    ObjectId lock = fk.newObject("lock");
    jmethodID generic = fk.newMethod("get", fk.objectClass(), "<T:Ljava/lang/Object;>()TT;", "()Ljava/lang/Object;");
};

TEST_P(HandlerFatalDeathTest, EndsTheProcessWithItsLine) {
    const FatalPath& path = GetParam();
    giveUid(a, 7);
    fk.setOwner(lock, a);
    fk.setNotifyWaiters(lock, {w});
    if (path.scene == Scene::ThreadEnd) {
        ASSERT_TRUE(fk.methodEntry(a, notify));
    }
    if (path.scene == Scene::ThreadStartExit) {
        ASSERT_TRUE(fk.methodEntry(a, threadStartMethod, Frame().withObject(0, b)));
    }
    if (path.scene == Scene::NotifyExit) {
        ASSERT_TRUE(fk.methodEntry(a, notify));
        fk.setNotifyWaiters(lock, {});
    }
    std::string line = path.word == nullptr ? "[Vesk] FATAL ERROR: can't alloc mem!"
                                            : "[Vesk] ERROR: can't " + std::string(path.word) +
                                                  ", error code:" + std::to_string(path.error) + "\n";
    fk.clearCalls();
    expectFatal([&] {
        if (std::string(path.function) == "malloc" || std::string(path.function) == "calloc") {
            fk.failHeapAllocation(path.nth);
        } else {
            fk.failCall(path.function, path.error, path.nth);
        }
        switch (path.scene) {
            case Scene::ThreadStart: fk.threadStart(b); break;
            case Scene::ThreadEnd: fk.threadEnd(a); break;
            case Scene::Entry: fk.methodEntry(a, generic); break;
            case Scene::ThreadStartEntry: fk.methodEntry(a, threadStartMethod, Frame().withObject(0, b)); break;
            case Scene::NotifyEntry: fk.methodEntry(a, notify); break;
            case Scene::ThreadStartExit: fk.methodExit(a, threadStartMethod); break;
            case Scene::NotifyExit: fk.methodExit(a, notify); break;
        }
    }, line);
}

constexpr jint BAD_OBJECT = JVMTI_ERROR_INVALID_OBJECT;
constexpr jint BAD_METHOD = JVMTI_ERROR_INVALID_METHODID;
constexpr jint BAD_THREAD = JVMTI_ERROR_INVALID_THREAD;
constexpr jint BAD_MEMORY = JVMTI_ERROR_ILLEGAL_ARGUMENT;

INSTANTIATE_TEST_SUITE_P(
    Paths, HandlerFatalDeathTest,
    ::testing::Values(
        FatalPath{"ThreadStartHash", Scene::ThreadStart, "GetObjectHashCode", 1, BAD_OBJECT, "GetObjectHashCode"},
        FatalPath{"ThreadEndHash", Scene::ThreadEnd, "GetObjectHashCode", 1, BAD_OBJECT, "GetObjectHashCode"},
        FatalPath{"ThreadEndSnapshotArray", Scene::ThreadEnd, "Deallocate", 1, BAD_MEMORY, "Deallocate"},
        FatalPath{"EntryMethodName", Scene::Entry, "GetMethodName", 1, BAD_METHOD, "GetMethodName"},
        FatalPath{"EntryThreadHash", Scene::Entry, "GetObjectHashCode", 1, BAD_THREAD, "GetObjectHashCode"},
        FatalPath{"EntryName", Scene::Entry, "Deallocate", 1, BAD_MEMORY, "Deallocate"},
        FatalPath{"EntrySignature", Scene::Entry, "Deallocate", 2, BAD_MEMORY, "Deallocate"},
        FatalPath{"EntryGenericSignature", Scene::Entry, "Deallocate", 3, BAD_MEMORY, "Deallocate"},
        FatalPath{"StartDeclaringClass", Scene::ThreadStartEntry, "GetMethodDeclaringClass", 1, BAD_METHOD,
                  "GetMethodDeclaringClass"},
        FatalPath{"StartFindClass", Scene::ThreadStartEntry, "FindClass", 1, JVMTI_ERROR_INTERNAL, "FindClass"},
        FatalPath{"StartThreadClassReference", Scene::ThreadStartEntry, "NewGlobalRef", 1, 1, nullptr},
        FatalPath{"StartThreadState", Scene::ThreadStartEntry, "GetThreadState", 1, BAD_THREAD, "GetThreadState"},
        FatalPath{"StartStartedHash", Scene::ThreadStartEntry, "GetObjectHashCode", 2, BAD_OBJECT, "GetObjectHashCode"},
        FatalPath{"StartRecord", Scene::ThreadStartEntry, "malloc", 1, 0, nullptr},
        FatalPath{"StartSignature", Scene::ThreadStartEntry, "Deallocate", 1, BAD_MEMORY, "Deallocate"},
        FatalPath{"NotifyEntryOwnedMonitors", Scene::NotifyEntry, "GetOwnedMonitorInfo", 1, BAD_THREAD,
                  "GetOwnedMonitorInfo"},
        FatalPath{"NotifyEntryUsage", Scene::NotifyEntry, "GetObjectMonitorUsage", 1, BAD_OBJECT,
                  "GetObjectMonitorUsage"},
        FatalPath{"NotifyEntrySnapshot", Scene::NotifyEntry, "calloc", 1, 0, nullptr},
        FatalPath{"NotifyEntryQueueNode", Scene::NotifyEntry, "malloc", 2, 0, nullptr},
        FatalPath{"NotifyEntryWaiterReference", Scene::NotifyEntry, "NewGlobalRef", 1, 1, nullptr},
        FatalPath{"NotifyEntryMonitorReference", Scene::NotifyEntry, "NewGlobalRef", 2, 1, nullptr},
        FatalPath{"NotifyEntryMonitorArray", Scene::NotifyEntry, "Deallocate", 1, BAD_MEMORY, "Deallocate"},
        FatalPath{"ExitMethodName", Scene::ThreadStartExit, "GetMethodName", 1, BAD_METHOD, "GetMethodName"},
        FatalPath{"ExitThreadHash", Scene::ThreadStartExit, "GetObjectHashCode", 1, BAD_THREAD, "GetObjectHashCode"},
        FatalPath{"ExitDeclaringClass", Scene::ThreadStartExit, "GetMethodDeclaringClass", 1, BAD_METHOD,
                  "GetMethodDeclaringClass"},
        FatalPath{"ExitName", Scene::ThreadStartExit, "Deallocate", 1, BAD_MEMORY, "Deallocate"},
        FatalPath{"NotifyExitOwnedMonitors", Scene::NotifyExit, "GetOwnedMonitorInfo", 1, BAD_THREAD,
                  "GetOwnedMonitorInfo"},
        FatalPath{"NotifyExitUsage", Scene::NotifyExit, "GetObjectMonitorUsage", 1, BAD_OBJECT, "GetObjectMonitorUsage"},
        FatalPath{"NotifyExitSnapshot", Scene::NotifyExit, "calloc", 1, 0, nullptr},
        FatalPath{"NotifyExitWokenHash", Scene::NotifyExit, "GetObjectHashCode", 2, BAD_OBJECT, "GetObjectHashCode"},
        FatalPath{"NotifyExitRecord", Scene::NotifyExit, "malloc", 2, 0, nullptr},
        FatalPath{"NotifyExitAfterArrays", Scene::NotifyExit, "Deallocate", 1, BAD_MEMORY, "Deallocate"},
        FatalPath{"NotifyExitBeforeArrays", Scene::NotifyExit, "Deallocate", 3, BAD_MEMORY, "Deallocate"},
        FatalPath{"NotifyExitMonitorArray", Scene::NotifyExit, "Deallocate", 5, BAD_MEMORY, "Deallocate"},
        FatalPath{"NotifyExitSignature", Scene::NotifyExit, "Deallocate", 6, BAD_MEMORY, "Deallocate"}),
    [](const auto& p) { return std::string(p.param.label); });

}  // namespace
