import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.CountDownLatch;

/**
 * A thread with a context hands it to the threads its notify or notifyAll wakes.
 * The waiters are started before the notifier registers, so they carry no context
 * of their own. The return of a notify by a thread with a context switches method
 * events off, so a woken thread reads its context only after some thread start
 * has switched them on again.
 */
public final class NotifyRoad {
    private static final Object lock = new Object();
    private static int permits;

    public static void main(String[] args) {
        switch (args[0]) {
            case "one": one(); break;
            case "one-of-two": oneOfTwo(); break;
            case "all": all(); break;
            default: throw new IllegalArgumentException(args[0]);
        }
    }

    /** The woken thread switches events on itself: it starts and joins a helper. */
    static void one() {
        int[] seen = {Context.UNSEEN};
        Thread waiter = Context.launch("waiter", () -> {
            awaitPermit();
            Context.startAndJoinHelper();
            seen[0] = Context.current();
        });
        awaitWaiting(waiter);
        Context.enter(7);
        release(1, false);
        Context.join(waiter);
        System.out.println("one: " + Context.tally("woken", 7, seen));
    }

    /** notify() wakes one of two waiters; only that one carries the context. */
    static void oneOfTwo() {
        Waiter[] waiters = {new Waiter("first"), new Waiter("second")};
        for (Waiter waiter : waiters) waiter.begin();
        for (Waiter waiter : waiters) awaitWaiting(waiter.thread);
        Context.enter(7);
        release(1, false);
        Waiter woken = firstWoken(waiters);
        Context.startAndJoinHelper();
        woken.read.countDown();
        Context.join(woken.thread);

        // The notifier gives up its context, then lets the other waiter go.
        Context.enter(0);
        Waiter other = woken == waiters[0] ? waiters[1] : waiters[0];
        release(1, false);
        Context.await(other.woken);
        Context.startAndJoinHelper();
        other.read.countDown();
        Context.join(other.thread);
        System.out.println("one-of-two: " + Context.tally("woken", 7, new int[] {woken.seen}) + ", "
                + Context.tally("left waiting", 0, new int[] {other.seen}));
    }

    /** notifyAll() wakes three waiters; each carries the context. */
    static void all() {
        List<Waiter> waiters = new ArrayList<>();
        for (int i = 0; i < 3; i++) waiters.add(new Waiter("waiter-" + i));
        for (Waiter waiter : waiters) waiter.begin();
        for (Waiter waiter : waiters) awaitWaiting(waiter.thread);
        Context.enter(7);
        release(waiters.size(), true);
        for (Waiter waiter : waiters) Context.await(waiter.woken);
        Context.startAndJoinHelper();
        for (Waiter waiter : waiters) waiter.read.countDown();
        int[] seen = new int[waiters.size()];
        for (int i = 0; i < seen.length; i++) {
            Context.join(waiters.get(i).thread);
            seen[i] = waiters.get(i).seen;
        }
        System.out.println("all: " + Context.tally("woken", 7, seen));
    }

    /** Waits on the monitor for a permit, then reads its context when told to. */
    static final class Waiter {
        final String name;
        final CountDownLatch woken = new CountDownLatch(1);
        final CountDownLatch read = new CountDownLatch(1);
        volatile int seen = Context.UNSEEN;
        Thread thread;

        Waiter(String name) {
            this.name = name;
        }

        void begin() {
            thread = Context.launch(name, () -> {
                awaitPermit();
                woken.countDown();
                Context.await(read);
                seen = Context.current();
            });
        }
    }

    static Waiter firstWoken(Waiter[] waiters) {
        while (true) {
            for (Waiter waiter : waiters) {
                if (waiter.woken.getCount() == 0) return waiter;
            }
            Thread.onSpinWait();
        }
    }

    static void awaitPermit() {
        synchronized (lock) {
            while (permits == 0) {
                try {
                    lock.wait();
                } catch (InterruptedException e) {
                    throw new IllegalStateException(e);
                }
            }
            permits--;
        }
    }

    static void release(int count, boolean all) {
        synchronized (lock) {
            permits += count;
            if (all) lock.notifyAll();
            else lock.notify();
        }
    }

    /** True once the thread sits in Object.wait on the monitor. */
    static void awaitWaiting(Thread thread) {
        while (thread.getState() != Thread.State.WAITING) Thread.onSpinWait();
    }
}
