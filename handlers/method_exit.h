#pragma once

#include <jvmti.h>

// The MethodExit handler: hands a uid to woken threads and decides the method
// event switch after a Thread start.
void JNICALL onMethodExit(jvmtiEnv* jvmti, JNIEnv* jni, jthread thread, jmethodID method,
                          jboolean byException, jvalue returnValue);
