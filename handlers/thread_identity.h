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

// "GetMethodName" on failure.
MethodNames getMethodNames(jmethodID method);
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
