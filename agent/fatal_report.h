// The agent lock and the two fatal reports: any failure inside a handler ends the
// process after one line on standard output.
#pragma once

#include <jvmti.h>

// Enter and exit the agent's raw monitor; every handler holds it for its whole body.
void lockAgent();
void unlockAgent();

// "[Vesk] ERROR: can't <word>, error code:<code>" and exit status -1.
[[noreturn]] void abortOnToolError(const char* operationWord, int errorCode);
// "[Vesk] FATAL ERROR: can't alloc mem!" and exit status -1.
[[noreturn]] void abortOnNoMemory();

// Ends the process with the tool-error report unless the call succeeded.
inline void checkToolCall(jvmtiError error, const char* operationWord) {
    if (error != JVMTI_ERROR_NONE) abortOnToolError(operationWord, error);
}
