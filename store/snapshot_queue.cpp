#include "store/snapshot_queue.h"

#include <cstdlib>

#include "agent/fatal_report.h"

namespace {

// Unlinks node, whose predecessor is prev (null at the head).
void unlink(SnapshotQueue& queue, ThrInfo* prev, ThrInfo* node) {
    if (prev == nullptr) queue.head = node->next;
    else prev->next = node->next;
    if (queue.tail == node) queue.tail = prev;
    node->next = nullptr;
}

}  // namespace

int insertThrInfo(SnapshotQueue& queue, MonitorSnapshot* snapshot, ThreadHash threadHash, jobject monitor) {
    ThrInfo* node = static_cast<ThrInfo*>(std::malloc(sizeof(ThrInfo)));
    if (node == nullptr) abortOnNoMemory();
    *node = ThrInfo{snapshot, threadHash, monitor, nullptr};
    if (queue.head == nullptr) queue.head = node;
    else queue.tail->next = node;
    queue.tail = node;
    return 0;
}

void popThrInfo(SnapshotQueue& queue) {
    ThrInfo* node = queue.head;
    if (node == nullptr) return;
    unlink(queue, nullptr, node);
    std::free(node);
}

ThrInfo* takeThrInfo(SnapshotQueue& queue, ThreadHash threadHash, jobject monitor, SameMonitorFn same,
                     void* context) {
    ThrInfo* prev = nullptr;
    for (ThrInfo* node = queue.head; node != nullptr; prev = node, node = node->next) {
        if (node->threadHash == threadHash && same(context, node->monitor, monitor)) {
            unlink(queue, prev, node);
            return node;
        }
    }
    return nullptr;
}

ThrInfo* takeThrInfosOf(SnapshotQueue& queue, ThreadHash threadHash) {
    ThrInfo* taken = nullptr;
    ThrInfo** takenEnd = &taken;
    ThrInfo* prev = nullptr;
    ThrInfo* node = queue.head;
    while (node != nullptr) {
        ThrInfo* next = node->next;
        if (node->threadHash == threadHash) {
            unlink(queue, prev, node);
            *takenEnd = node;
            takenEnd = &node->next;
        } else {
            prev = node;
        }
        node = next;
    }
    return taken;
}
