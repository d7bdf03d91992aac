/*
 * Veskline demo: one request context travelling from thread to thread.
 *
 * The contract with the agent is two methods, found by name alone, whose local
 * slot 1 holds an int (in an instance method slot 0 is `this`, so slot 1 is the
 * first parameter):
 *
 *   beforeAdvice(int uid)  at its entry the agent reads uid and registers the
 *                          calling thread as the one holder of that context;
 *   afterAdvice(int uid)   at its entry the agent overwrites uid with the calling
 *                          thread's context (0 for none) before the body runs.
 *
 * A thread started by Thread.start() from a thread with a context carries it, and
 * so do threads that such a thread wakes with notify() or notifyAll(). The agent
 * sees these calls only while its method events are on: every thread start
 * switches them on; the return of a start() whose thread is not yet running and
 * the return of a notify() by a thread with a context switch them off. So a thread
 * reads its context once a thread start has followed such a moment, as below.
 *
 * Run it with: java -agentpath:/path/to/libveskline.so ContextDemo
 */
public final class ContextDemo {
    /** What the agent writes nothing over prints as "?": the agent did not see the call. */
    private static final int UNSEEN = -1;
    private static final int REQUEST = 42;

    private static final Object mailbox = new Object();
    private static boolean delivered;

    /** The application's two advice methods. */
    static final class RequestContext {
        void beforeAdvice(int uid) {}

        int afterAdvice(int uid) {
            return uid;
        }
    }

    private static final RequestContext advice = new RequestContext();

    static int currentContext() {
        return advice.afterAdvice(UNSEEN);
    }

    public static void main(String[] args) throws InterruptedException {
        // The JVM starts a thread of its own while main() begins; once a thread we
        // started has run, the agent is watching again.
        startAndJoin(new Thread(() -> {}));

        System.out.println("Veskline demo: request context " + REQUEST + " travels between threads");

        int[] waiterBefore = {UNSEEN};
        int[] waiterAfter = {UNSEEN};
        Thread waiter = new Thread(() -> {
            waiterBefore[0] = currentContext();
            synchronized (mailbox) {
                while (!delivered) {
                    try {
                        mailbox.wait();
                    } catch (InterruptedException e) {
                        return;
                    }
                }
            }
            // The notify that woke us switched the agent's method events off; a
            // thread start switches them on again.
            startAndJoin(new Thread(() -> {}));
            waiterAfter[0] = currentContext();
        }, "waiter");
        waiter.start();
        while (waiter.getState() != Thread.State.WAITING) Thread.onSpinWait();
        report("waiter", waiterBefore[0], "started before the request: no context yet");

        advice.beforeAdvice(REQUEST);
        report("main", currentContext(), "registered with beforeAdvice(" + REQUEST + ")");

        int[] worker = {UNSEEN};
        int[] grandchild = {UNSEEN};
        startAndJoin(new Thread(() -> {
            worker[0] = currentContext();
            startAndJoin(new Thread(() -> grandchild[0] = currentContext(), "grandchild"));
        }, "worker"));
        report("worker", worker[0], "started by main");
        report("grandchild", grandchild[0], "started by worker");

        synchronized (mailbox) {
            delivered = true;
            mailbox.notify();
        }
        waiter.join();
        report("waiter", waiterAfter[0], "woken by main's notify()");
    }

    static void report(String thread, int context, String how) {
        String seen = context == UNSEEN ? "?" : Integer.toString(context);
        System.out.printf("  %-10s sees context %-3s (%s)%n", thread, seen, how);
    }

    static void startAndJoin(Thread thread) {
        thread.start();
        try {
            thread.join();
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }
}
