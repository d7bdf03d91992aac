#pragma once

#include <jvmti.h>

// The MethodEntry handler: advice hooks, Thread start hand-overs, notify snapshots.
void JNICALL onMethodEntry(jvmtiEnv* jvmti, JNIEnv* jni, jthread thread, jmethodID method);
