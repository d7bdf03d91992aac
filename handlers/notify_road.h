// The notify road: a thread with a uid that notifies hands it to the threads it woke.
#pragma once

#include <jvmti.h>

#include "store/uid_table.h"

// At the entry of notify or notifyAll: one snapshot per monitor the caller owns,
// replacing any it left from an earlier call.
void queueMonitorSnapshots(JNIEnv* jni, jthread caller, ThreadHash callerHash);
// At the exit: the caller's uid goes to every thread that waited on one of its
// monitors at the entry and waits no more. True when a hand-over was recorded
// under name, which the history then keeps.
bool handOverToWokenThreads(JNIEnv* jni, jthread caller, ThreadHash callerHash, const char* name);
