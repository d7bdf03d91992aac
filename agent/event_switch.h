// When method events reach the agent: every thread start switches them on for
// all threads; the method handlers switch them off again.
#pragma once

#include <jvmti.h>

// Method entry first, then method exit; results are not looked at. The caller
// holds the agent lock.
void switchMethodEvents(bool on);

void JNICALL onThreadStart(jvmtiEnv* jvmti, JNIEnv* jni, jthread thread);
// A thread that ends leaves the table and gives back the snapshots it queued.
void JNICALL onThreadEnd(jvmtiEnv* jvmti, JNIEnv* jni, jthread thread);
