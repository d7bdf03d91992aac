#include "store/context_history.h"

#include <cstdlib>

#include "agent/fatal_report.h"

int insertThrContext(ContextHistory& history, ThreadHash fromHash, ThreadHash toHash, const char* methodName) {
    ThrContext* record = static_cast<ThrContext*>(std::malloc(sizeof(ThrContext)));
    if (record == nullptr) abortOnNoMemory();
    *record = ThrContext{fromHash, toHash, methodName, nullptr};
    if (history.head == nullptr) history.head = record;
    else history.tail->next = record;
    history.tail = record;
    return 0;
}
