// The start road: a thread that starts another hands it its uid.
#pragma once

#include <jvmti.h>

#include "store/uid_table.h"

// True for a method of java.lang.Thread or a subclass of it; only those start threads.
bool isThreadClassMethod(JNIEnv* jni, jmethodID method);

// At the entry of a Thread start: the thread in slot 0 joins the caller's group.
// True when the hand-over was recorded under name, which the history then keeps.
// A start without a thread in slot 0, of a thread that has run or runs, or of a
// virtual thread hands nothing over.
bool handOverAtStart(JNIEnv* jni, jthread caller, ThreadHash callerHash, const char* name);
// At the exit of a Thread start that handed over: method events go off unless
// the started thread already runs, since no later thread start would switch
// them on for it.
void switchAfterStart(ThreadHash callerHash);
