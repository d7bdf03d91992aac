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

// False once the VM has entered its dead phase: a handler that was already on its
// way then stops quietly rather than turn a clean shutdown into a failure.
// Any other failure ends the process ("GetMethodName").
bool getMethodNames(jmethodID method, MethodNames* names);
// The same for the hash of an event's thread ("GetObjectHashCode").
bool hashOfEventThread(jthread thread, ThreadHash* hash);
// Gives the strings back, name first; a name kept by the history stays.
void releaseMethodNames(const MethodNames& names, bool keepName);
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
