// Handlers on several OS threads at once. Each OS thread plays one application thread with
// its own uid, child threads and a waiter on its own lock; the threads share nothing but the
// agent, so what each reads back is known from the deliveries it saw reach the agent. The
// fake checks on every call that the calling OS thread holds the agent lock.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "handler_scene.h"

using namespace fake;
using ::testing::Each;
using ::testing::Gt;
using ::testing::IsEmpty;

namespace {

constexpr int WORKERS = 6;
constexpr int ROUNDS = 300;

struct Worker {
    ObjectId self = NO_OBJECT;
    ObjectId waiter = NO_OBJECT;              // waits on lock until self's notify wakes it
    ObjectId lock = NO_OBJECT;                // owned by self throughout
    std::vector<ObjectId> children;           // one started by self per round
    std::vector<ObjectId> bystanders;         // one started elsewhere per round
    // What the agent must hold, from the deliveries that reached it.
    jint uid = 0;                             // self: the last beforeAdvice delivered
    jint waiterUid = 0;                       // waiter: self's uid at the last hand-over
    bool snapshotQueued = false;              // a notify entry's snapshot awaits its exit
    int ownReadBacks = 0;                     // afterAdvice of self delivered and compared
    int otherReadBacks = 0;                   // the same for children and the waiter
    std::vector<std::string> wrong;
};

class ConcurrencyTest : public HandlerTest {
protected:
    std::vector<Worker> workers = std::vector<Worker>(WORKERS);

    void SetUp() override {
        HandlerTest::SetUp();
        for (int i = 0; i < WORKERS; ++i) {
            Worker& w = workers[i];
            const std::string n = std::to_string(i);
            w.self = fk.newThread("T" + n);
            w.waiter = fk.newThread("W" + n);
            w.lock = fk.newObject("lock" + n);
            fk.setOwner(w.lock, w.self);
            for (int round = 0; round < ROUNDS; ++round) {
                w.children.push_back(fk.newThread("C" + n + "." + std::to_string(round)));
                w.bystanders.push_back(fk.newThread("B" + n + "." + std::to_string(round)));
            }
            fk.threadStart(w.self);
            fk.threadStart(w.waiter);
        }
        fk.recordCalls(false);
    }

    // afterAdvice of thread, when delivered, must see expected.
    void readBack(Worker& w, ObjectId thread, jint expected, int& count, const std::string& who) {
        if (!fk.methodEntry(thread, afterAdvice, Frame().withInt(1, -1))) return;
        ++count;
        jint seen = fk.localInt(thread, 1).value_or(-1);
        if (seen != expected) {
            w.wrong.push_back(who + " read " + std::to_string(seen) + ", expected " + std::to_string(expected));
        }
    }

    void runRound(Worker& w, int index, int round) {
        // Another thread starts somewhere: method events come on, as in a VM.
        ObjectId bystander = w.bystanders[round];
        fk.threadStart(bystander);
        readBack(w, w.waiter, w.waiterUid, w.otherReadBacks, "waiter");

        const jint uid = (index + 1) * 1000 + round + 1;
        if (fk.methodEntry(w.self, beforeAdvice, Frame().withObject(0, NO_OBJECT).withInt(1, uid))) w.uid = uid;
        readBack(w, w.self, w.uid, w.ownReadBacks, "self");

        // A child: handed over at the entry of start; it runs before or after its parent returns.
        ObjectId child = w.children[round];
        jint childUid = fk.methodEntry(w.self, threadStartMethod, Frame().withObject(0, child)) ? w.uid : 0;
        if (round % 2 == 0) {
            fk.threadStart(child);
            fk.methodExit(w.self, threadStartMethod);
        } else {
            fk.methodExit(w.self, threadStartMethod);
            fk.threadStart(child);
        }
        readBack(w, child, childUid, w.otherReadBacks, "child");
        fk.threadEnd(child);

        // A notify on the owned lock wakes the waiter.
        fk.setNotifyWaiters(w.lock, {w.waiter});
        if (fk.methodEntry(w.self, round % 3 == 0 ? notifyAll : notify) && w.uid != 0) w.snapshotQueued = true;
        fk.setNotifyWaiters(w.lock, {});
        if (fk.methodExit(w.self, round % 3 == 0 ? notifyAll : notify) && w.uid != 0 && w.snapshotQueued) {
            w.waiterUid = w.uid;
            w.snapshotQueued = false;
        }
        fk.threadEnd(bystander);
    }
};

TEST_F(ConcurrencyTest, EveryThreadReadsBackItsOwnContextAndNothingIsLeft) {
    std::atomic<int> waiting{WORKERS};
    std::vector<std::thread> threads;
    for (int i = 0; i < WORKERS; ++i) {
        threads.emplace_back([this, i, &waiting] {
            // All start together, so that the rounds overlap.
            waiting.fetch_sub(1);
            while (waiting.load() > 0) std::this_thread::yield();
            for (int round = 0; round < ROUNDS; ++round) runRound(workers[i], i, round);
        });
    }
    for (std::thread& thread : threads) thread.join();

    std::vector<int> ownReadBacks;
    int otherReadBacks = 0;
    for (int i = 0; i < WORKERS; ++i) {
        EXPECT_THAT(workers[i].wrong, IsEmpty()) << "worker " << i;
        ownReadBacks.push_back(workers[i].ownReadBacks);
        otherReadBacks += workers[i].otherReadBacks;
    }
    // Method events go off and on under the workers' feet; enough deliveries still get through
    // for the comparisons above to mean something.
    EXPECT_THAT(ownReadBacks, Each(Gt(0)));
    EXPECT_GT(otherReadBacks, 0);
    EXPECT_FALSE(fk.rawMonitorHeld());

    for (const Worker& w : workers) {
        fk.threadEnd(w.waiter);
        fk.threadEnd(w.self);
        EXPECT_EQ(uidOf(w.self), 0);
        EXPECT_EQ(uidOf(w.waiter), 0);
    }
    EXPECT_EQ(queueLength(), 0);
    expectClean();
}

}  // namespace
