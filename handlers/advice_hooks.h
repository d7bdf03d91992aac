// The application's two touch points: beforeAdvice hands a uid in through its
// int in slot 1, afterAdvice has the thread's uid written into its slot 1.
#pragma once

#include <jvmti.h>

#include "store/uid_table.h"

void onBeforeAdvice(jthread thread, const char* name, ThreadHash hash);
void onAfterAdvice(jthread thread, const char* name, ThreadHash hash);
