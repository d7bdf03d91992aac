// How the handlers name threads and methods: identity hashes, and the strings
// the tool interface hands out for a method.
#pragma once

#include <jvmti.h>

#include "store/uid_table.h"

// The object's identity hash ("GetObjectHashCode" on failure).
ThreadHash hashOfObject(jobject object);

struct MethodNames {
    char* name;
    char* signature;
    char* genericSignature;   // null when the method has none
};

struct MethodEvent {
    MethodNames names;
    ThreadHash threadHash;
};

// The opening of every method event: takes the agent lock, names the method
// ("GetMethodName") and hashes its thread ("GetObjectHashCode"). False, with the
// lock given back, once the VM has entered its dead phase: a handler that was
// already on its way then stops quietly rather than turn a clean shutdown into
// a failure.
bool beginMethodEvent(jthread thread, jmethodID method, MethodEvent* event);
// The close: gives the strings back, name first (unless the history keeps it),
// then the lock.
void endMethodEvent(const MethodEvent& event, bool keepName);
// The hash of a thread event's thread; false once the VM is dead, as above.
bool hashOfEventThread(jthread thread, ThreadHash* hash);
// Gives one block of tool-interface memory back ("Deallocate" on failure).
void deallocate(void* memory);

inline bool isNamed(const char* name, const char* literal) {
    for (; *literal != '\0'; ++name, ++literal) {
        if (*name != *literal) return false;
    }
    return *name == '\0';
}

inline bool isNotifyName(const char* name) {
    return isNamed(name, "notify") || isNamed(name, "notifyAll");
}
