// Every hand-over of a uid from one thread to another, kept for the life of the process.
#pragma once

#include "store/uid_table.h"

struct ThrContext {
    ThreadHash fromHash;      // the thread that handed its uid on
    ThreadHash toHash;        // the thread that received it
    const char* methodName;   // "start", "notify" or "notifyAll", as the tool interface gave it
    ThrContext* next;
};

struct ContextHistory {
    ThrContext* head;
    ThrContext* tail;
};

// Appends one record; the history keeps methodName for good. Always 0.
int insertThrContext(ContextHistory& history, ThreadHash fromHash, ThreadHash toHash, const char* methodName);
