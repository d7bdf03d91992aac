import java.util.concurrent.CountDownLatch;

/**
 * The application side of the agent's contract, as the test programs use it.
 * The agent acts on methods by name: at the entry of beforeAdvice it reads the
 * int in local slot 1 (here the parameter, slot 0 being this) and registers the
 * thread under it; at the entry of afterAdvice it overwrites slot 1 with the
 * thread's context, 0 for none. A call the agent did not see keeps UNSEEN.
 *
 * The agent sees method calls only while its method events are on: every thread
 * start switches them on; the return of a Thread.start switches them off unless
 * the started thread already runs; the return of a notify by a thread with a
 * context switches them off. The helpers below keep the programs on the side of
 * those rules where the outcome does not depend on thread timing.
 */
final class Context {
    static final int UNSEEN = -1;
    private static final Context ADVICE = new Context();

    void beforeAdvice(int uid) {}

    int afterAdvice(int uid) {
        return uid;
    }

    static void enter(int uid) {
        ADVICE.beforeAdvice(uid);
    }

    static int current() {
        return ADVICE.afterAdvice(UNSEEN);
    }

    /** Starts a thread and returns once it runs, so its start is settled. */
    static Thread launch(String name, Runnable body) {
        CountDownLatch running = new CountDownLatch(1);
        Thread thread = new Thread(() -> {
            running.countDown();
            body.run();
        }, name);
        thread.start();
        await(running);
        return thread;
    }

    /** A thread start switches method events on; when it has run they stay on. */
    static void startAndJoinHelper() {
        join(launch("helper", () -> {}));
    }

    static void await(CountDownLatch latch) {
        try {
            latch.await();
        } catch (InterruptedException e) {
            throw new IllegalStateException(e);
        }
    }

    static void join(Thread thread) {
        try {
            thread.join();
        } catch (InterruptedException e) {
            throw new IllegalStateException(e);
        }
    }

    /** "label 3/3", or "label 2/3 saw [7, -1, 7]" when some value differs. */
    static String tally(String label, int expected, int[] seen) {
        int matching = 0;
        for (int value : seen) {
            if (value == expected) matching++;
        }
        String verdict = label + " " + matching + "/" + seen.length;
        if (matching != seen.length) verdict += " saw " + java.util.Arrays.toString(seen);
        return verdict;
    }
}
