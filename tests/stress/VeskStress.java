import java.io.IOException;
import java.lang.reflect.Method;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.Optional;
import java.util.TreeMap;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.SynchronousQueue;
import java.util.concurrent.ThreadPoolExecutor;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicLong;
import java.util.concurrent.atomic.AtomicLongArray;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Collectors;
import java.util.stream.IntStream;

/**
 * Load under the agent for a fixed time: threads that register their own contexts start
 * children and grandchildren and wake waiters, next to threads running ordinary code.
 * Every child and woken thread checks the context it reads; a context its parent or waker
 * never had is a violation.
 *
 * Usage: java -agentpath:libveskline.so VeskStress [seconds]   (or -Dstress.seconds=N)
 * Every line printed starts with "stress: ". Exit status: 0 clean, 1 violations or
 * unexpected errors, 3 the watchdog fired.
 */
public final class VeskStress {
    // afterAdvice gives back its argument untouched when the agent did not see the call.
    static final int EVENTS_OFF = -1;

    static final int PARENTS = 3;
    static final int CHILDREN_PER_ROUND = 2;
    static final int NOTIFIERS = 2;
    static final int WAITERS_PER_ROUND = 3;
    static final int MAX_ROUNDS = 900_000;   // keeps uids of different threads apart
    static final int PROBES = 40;

    // The agent acts on these two by name: slot 1 of beforeAdvice is the context to join,
    // slot 1 of afterAdvice is overwritten with the thread's context before the body runs.
    static final class Advice {
        void beforeAdvice(int uid) { }
        int afterAdvice(int uid) { return uid; }
    }

    static final Advice ADVICE = new Advice();

    static void enterContext(int uid) { ADVICE.beforeAdvice(uid); }
    static int currentContext() { return ADVICE.afterAdvice(EVENTS_OFF); }

    static int uidFor(int owner, int round) { return (owner + 1) * 1_000_000 + round + 1; }

    static long deadline;       // no new round begins after this
    static long hardDeadline;   // bounded waits and joins give up here

    static boolean inBudget() { return System.nanoTime() < deadline; }

    static long millisLeft() {
        return Math.max(1, TimeUnit.NANOSECONDS.toMillis(hardDeadline - System.nanoTime()));
    }

    static final AtomicLong startHandOvers = new AtomicLong();
    static final AtomicLong notifyHandOvers = new AtomicLong();
    static final AtomicLong sawHanded = new AtomicLong();
    static final AtomicLong sawZero = new AtomicLong();
    static final AtomicLong sawEventsOff = new AtomicLong();
    static final AtomicLong sawEarlier = new AtomicLong();   // an earlier context of the same parent or waker
    static final AtomicLong violations = new AtomicLong();
    static final AtomicLong unexpected = new AtomicLong();
    static final AtomicLong startExceptions = new AtomicLong();
    static final AtomicLong notifyExceptions = new AtomicLong();
    static final AtomicLong ordinaryRounds = new AtomicLong();
    static final AtomicLong poolTasks = new AtomicLong();
    static final AtomicLong virtualThreads = new AtomicLong();

    static final int REPORT_LIMIT = 20;
    static final AtomicLong reports = new AtomicLong();

    static void say(String line) {
        synchronized (System.out) {
            System.out.println("stress: " + line);
            System.out.flush();
        }
    }

    static void report(AtomicLong counter, String what) {
        counter.incrementAndGet();
        if (reports.incrementAndGet() <= REPORT_LIMIT) say(what);
    }

    // A parent's or waker's beforeAdvice is missed while method events are off, so a
    // thread may carry one of its parent's earlier contexts; a context from another
    // thread, or a later one, is a violation.
    static boolean isEarlierOfSameOwner(int seen, int handed) {
        return seen > 0 && seen < handed && seen / 1_000_000 == handed / 1_000_000;
    }

    static final String[] ROLES = {"child", "grandchild", "woken"};
    // Per role: handed, 0, events off, earlier context.
    static final AtomicLongArray byRole = new AtomicLongArray(ROLES.length * 4);

    static void judge(int role, int seen, int handed) {
        int outcome;
        if (seen == handed) outcome = 0;
        else if (seen == 0) outcome = 1;
        else if (seen == EVENTS_OFF) outcome = 2;
        else if (isEarlierOfSameOwner(seen, handed)) outcome = 3;
        else {
            report(violations, "VIOLATION " + ROLES[role] + " " + Thread.currentThread().getName() + " (hash "
                    + System.identityHashCode(Thread.currentThread()) + ") saw " + seen + ", handed " + handed);
            return;
        }
        byRole.incrementAndGet(role * 4 + outcome);
        (outcome == 0 ? sawHanded : outcome == 1 ? sawZero : outcome == 2 ? sawEventsOff : sawEarlier).incrementAndGet();
    }

    static String roleFigures() {
        StringBuilder line = new StringBuilder("by-road (handed/zero/events-off/earlier)");
        for (int r = 0; r < ROLES.length; ++r) {
            line.append(' ').append(ROLES[r]).append('=');
            for (int o = 0; o < 4; ++o) line.append(o == 0 ? "" : "/").append(byRole.get(r * 4 + o));
        }
        return line.toString();
    }

    static void joinBounded(Thread thread) {
        try {
            thread.join(millisLeft());
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
        if (thread.isAlive()) report(unexpected, "thread " + thread.getName() + " did not end in time");
    }

    static Runnable guarded(Runnable body) {
        return () -> {
            try {
                body.run();
            } catch (Throwable t) {
                report(unexpected, "unexpected " + t + " in " + Thread.currentThread().getName());
            }
        };
    }

    static Thread worker(String name, Runnable body) { return new Thread(guarded(body), name); }

    // start() overridden and calling the inherited one: nested starts of one thread.
    static final class RelayingThread extends Thread {
        RelayingThread(Runnable body, String name) { super(guarded(body), name); }

        @Override
        public void start() {
            super.start();
        }
    }

    // A static start of a Thread subclass starts no thread.
    static final class Server extends Thread {
        static int start(int port) { return port + 1; }
    }

    // ---- the start road ----

    static void parentLoop(int index) {
        for (int round = 0; inBudget() && round < MAX_ROUNDS; ++round) {
            int uid = uidFor(index, round);
            enterContext(uid);
            List<Thread> children = new ArrayList<>();
            for (int c = 0; c < CHILDREN_PER_ROUND; ++c) {
                Runnable body = () -> childBody(uid);
                String name = "child-" + index + "-" + round + "-" + c;
                Thread child = (round + c) % 3 == 0 ? new RelayingThread(body, name) : worker(name, body);
                child.start();
                startHandOvers.incrementAndGet();
                children.add(child);
            }
            for (Thread child : children) joinBounded(child);
            if (round % 4 == 0) {
                try {
                    children.get(0).start();   // an ended child, by a thread with a context
                    report(unexpected, "second start of an ended child did not throw");
                } catch (IllegalThreadStateException expected) {
                    startExceptions.incrementAndGet();
                }
            }
        }
    }

    static void childBody(int uid) {
        judge(0, currentContext(), uid);
        Thread grandchild = worker(Thread.currentThread().getName() + "-g",
                () -> judge(1, currentContext(), uid));
        grandchild.start();
        startHandOvers.incrementAndGet();
        joinBounded(grandchild);
    }

    // ---- the notify road ----

    // Waiters pass once the notifier lets them; every wait is bounded.
    static final class Gate {
        int waiting;
        int permits;
        boolean open;
        int handed;   // the notifier's context when it let the waiters go

        synchronized int pass() throws InterruptedException {
            ++waiting;
            while (permits == 0 && !open && System.nanoTime() < hardDeadline) wait(Math.min(millisLeft(), 1000));
            if (permits > 0) --permits;
            return handed;
        }

        synchronized boolean allWaiting(int count) { return waiting == count; }
    }

    static void notifierLoop(int index) throws InterruptedException {
        for (int round = 0; inBudget() && round + 1 < MAX_ROUNDS; round += 2) {
            int atStart = uidFor(index, round);
            enterContext(atStart);
            Gate gate = new Gate();
            List<Thread> waiters = new ArrayList<>();
            for (int w = 0; w < WAITERS_PER_ROUND; ++w) {
                Thread waiter = worker("waiter-" + index + "-" + round + "-" + w, () -> {
                    try {
                        int handed = gate.pass();
                        judge(2, currentContext(), handed);
                    } catch (InterruptedException e) {
                        Thread.currentThread().interrupt();
                    }
                });
                waiter.start();
                waiters.add(waiter);
            }
            while (!gate.allWaiting(WAITERS_PER_ROUND) && System.nanoTime() < hardDeadline) Thread.sleep(1);

            int atNotify = uidFor(index, round + 1);
            enterContext(atNotify);
            synchronized (gate) {
                gate.handed = atNotify;
                if (round % 4 == 0) {
                    gate.open = true;
                    gate.notifyAll();
                } else {
                    for (int w = 0; w < WAITERS_PER_ROUND; ++w) {
                        ++gate.permits;
                        gate.notify();
                    }
                }
            }
            notifyHandOvers.addAndGet(WAITERS_PER_ROUND);
            try {
                gate.notify();   // not owning the monitor, with a context
                report(unexpected, "notify without the monitor did not throw");
            } catch (IllegalMonitorStateException expected) {
                notifyExceptions.incrementAndGet();
            }
            for (Thread waiter : waiters) joinBounded(waiter);
        }
    }

    // ---- ordinary code ----

    static final String TEXT = IntStream.range(0, 40)
            .mapToObj(i -> "user" + i + "@host" + (i % 7) + ".com, start=" + i + ";")
            .collect(Collectors.joining(" "));

    static void regexLoop() {
        Pattern mail = Pattern.compile("(\\w+)@(\\w+)\\.com");
        Pattern number = Pattern.compile("start=(\\d+)");
        while (inBudget()) {
            Matcher m = mail.matcher(TEXT);
            int sum = 0;
            while (m.find()) sum += m.start() + m.end(2) - m.start(1);
            Matcher n = number.matcher(TEXT);
            while (n.find()) sum += Integer.parseInt(n.group(1));
            String replaced = TEXT.replaceAll("host(\\d)", "h$1").split(";")[3];
            if (sum <= 0 || replaced.isEmpty()) report(unexpected, "regex gave nothing");
            ordinaryRounds.incrementAndGet();
        }
    }

    static void collectionsLoop() {
        int round = 0;
        while (inBudget()) {
            Map<String, Integer> counts = new HashMap<>();
            TreeMap<Integer, String> sorted = new TreeMap<>();
            List<String> words = new ArrayList<>();
            for (int i = 0; i < 300; ++i) {
                String w = "w" + ((i * 31 + round) % 97);
                words.add(w);
                counts.merge(w, 1, Integer::sum);
                sorted.put(i * 7 % 101, w);
            }
            words.sort(Comparator.comparing(String::length).thenComparing(Comparator.reverseOrder()));
            Optional<Map.Entry<String, Integer>> top = counts.entrySet().stream()
                    .filter(e -> e.getValue() > 1)
                    .max(Map.Entry.comparingByValue());
            String joined = sorted.headMap(50).values().stream().map(String::toUpperCase).collect(Collectors.joining(","));
            if (!top.isPresent() || joined.isEmpty() || words.size() != 300) report(unexpected, "collections gave nothing");
            ++round;
            ordinaryRounds.incrementAndGet();
        }
    }

    static void poolLoop() throws Exception {
        ExecutorService fixed = Executors.newFixedThreadPool(3);
        // Pool threads that die when idle, so the pool keeps starting new ones.
        ExecutorService shortLived = new ThreadPoolExecutor(0, 4, 20, TimeUnit.MILLISECONDS, new SynchronousQueue<>(),
                Executors.defaultThreadFactory(), new ThreadPoolExecutor.CallerRunsPolicy());
        try {
            int round = 0;
            while (inBudget()) {
                List<Future<Integer>> futures = new ArrayList<>();
                int tag = round % 10;
                for (int i = 0; i < 8; ++i) {
                    int n = i + round;
                    futures.add(fixed.submit(() -> IntStream.rangeClosed(0, n % 50).sum()));
                }
                CompletableFuture<String> chained = CompletableFuture
                        .supplyAsync(() -> "r" + tag, shortLived)
                        .thenApplyAsync(s -> s + "!", fixed);
                for (Future<Integer> f : futures) f.get(millisLeft(), TimeUnit.MILLISECONDS);
                if (!chained.get(millisLeft(), TimeUnit.MILLISECONDS).endsWith("!")) report(unexpected, "pool chain");
                poolTasks.addAndGet(futures.size() + 2);
                if (++round % 20 == 0) Thread.sleep(30);   // let idle short-lived threads end
            }
        } finally {
            fixed.shutdownNow();
            shortLived.shutdownNow();
            fixed.awaitTermination(millisLeft(), TimeUnit.MILLISECONDS);
            shortLived.awaitTermination(millisLeft(), TimeUnit.MILLISECONDS);
        }
    }

    static Method startVirtualThread() {
        try {
            return Thread.class.getMethod("startVirtualThread", Runnable.class);
        } catch (NoSuchMethodException absent) {
            return null;   // before JDK 21
        }
    }

    // Exceptions thrown through Thread.start and notify, by a thread without a context.
    static void exceptionsLoop() throws Exception {
        Method startVirtual = startVirtualThread();
        Object lock = new Object();
        while (inBudget()) {
            Thread done = new Thread(() -> { }, "done");
            done.start();
            joinBounded(done);
            try {
                done.start();
                report(unexpected, "second start of an ended thread did not throw");
            } catch (IllegalThreadStateException expected) {
                startExceptions.incrementAndGet();
            }
            Thread running = new Thread(() -> sleepQuietly(3), "running");
            running.start();
            try {
                running.start();
                report(unexpected, "second start of a running thread did not throw");
            } catch (IllegalThreadStateException expected) {
                startExceptions.incrementAndGet();
            }
            joinBounded(running);
            try {
                lock.notifyAll();
                report(unexpected, "notifyAll without the monitor did not throw");
            } catch (IllegalMonitorStateException expected) {
                notifyExceptions.incrementAndGet();
            }
            if (Server.start(8080) != 8081) report(unexpected, "static start");
            if (startVirtual != null) {
                Thread virtual = (Thread) startVirtual.invoke(null, (Runnable) () -> IntStream.range(0, 10).sum());
                joinBounded(virtual);
                virtualThreads.incrementAndGet();
            }
            ordinaryRounds.incrementAndGet();
        }
    }

    static void sleepQuietly(long millis) {
        try {
            Thread.sleep(millis);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    // ---- probes, memory, watchdog ----

    // Fresh threads, one after another once the load is over, each registering its own context
    // and reading it back: shows whether the table still takes new contexts.
    static int[] probeTable() {
        int[] outcome = new int[3];   // own context, 0, events off
        for (int p = 0; p < PROBES; ++p) {
            int uid = uidFor(50, p);
            int[] seen = new int[1];
            Thread probe = worker("probe-" + p, () -> {
                enterContext(uid);
                seen[0] = currentContext();
            });
            probe.start();
            joinBounded(probe);
            if (seen[0] == uid) ++outcome[0];
            else if (seen[0] == 0) ++outcome[1];
            else if (seen[0] == EVENTS_OFF) ++outcome[2];
            else report(violations, "VIOLATION probe saw " + seen[0] + ", registered " + uid);
        }
        return outcome;
    }

    static String memory() {
        String hwm = "?", rss = "?";
        try {
            for (String line : Files.readAllLines(Paths.get("/proc/self/status"))) {
                if (line.startsWith("VmHWM:")) hwm = line.substring(6).trim().replaceAll("\\s+", "");
                if (line.startsWith("VmRSS:")) rss = line.substring(6).trim().replaceAll("\\s+", "");
            }
        } catch (IOException e) {
            return "unreadable";
        }
        return "VmHWM=" + hwm + " VmRSS=" + rss;
    }

    static long handOvers() { return startHandOvers.get() + notifyHandOvers.get(); }

    static void startWatchdog(long budgetSeconds, long marginSeconds) {
        Thread watchdog = new Thread(() -> {
            sleepQuietly(TimeUnit.SECONDS.toMillis(budgetSeconds + marginSeconds));
            say("FAIL watchdog: no end within " + (budgetSeconds + marginSeconds) + " s; hand-overs so far "
                    + handOvers());
            for (Map.Entry<Thread, StackTraceElement[]> e : Thread.getAllStackTraces().entrySet()) {
                say("  thread " + e.getKey().getName() + " " + e.getKey().getState());
                for (StackTraceElement frame : e.getValue()) say("    at " + frame);
            }
            Runtime.getRuntime().halt(3);
        }, "watchdog");
        watchdog.setDaemon(true);
        watchdog.start();
    }

    static long budgetSeconds(String[] args) {
        String value = args.length > 0 ? args[0] : System.getProperty("stress.seconds", "15");
        return Long.parseLong(value.trim());
    }

    public static void main(String[] args) throws Exception {
        long budget = budgetSeconds(args);
        long margin = Long.getLong("stress.margin", Math.max(15, budget / 2));
        String memoryAtStart = memory();
        say("start budget=" + budget + "s java=" + Runtime.version() + " memory " + memoryAtStart);

        long began = System.nanoTime();
        deadline = began + TimeUnit.SECONDS.toNanos(budget);
        hardDeadline = deadline + TimeUnit.SECONDS.toNanos(margin) / 2;
        startWatchdog(budget, margin);

        List<Thread> roles = new ArrayList<>();
        for (int p = 0; p < PARENTS; ++p) {
            int index = p;
            roles.add(worker("parent-" + p, () -> parentLoop(index)));
        }
        for (int n = 0; n < NOTIFIERS; ++n) {
            int index = 10 + n;
            roles.add(worker("notifier-" + n, () -> {
                try {
                    notifierLoop(index);
                } catch (InterruptedException e) {
                    Thread.currentThread().interrupt();
                }
            }));
        }
        roles.add(worker("regex", VeskStress::regexLoop));
        roles.add(worker("collections", VeskStress::collectionsLoop));
        roles.add(worker("pool", () -> {
            try {
                poolLoop();
            } catch (Exception e) {
                throw new RuntimeException(e);
            }
        }));
        roles.add(worker("exceptions", () -> {
            try {
                exceptionsLoop();
            } catch (Exception e) {
                throw new RuntimeException(e);
            }
        }));
        for (Thread role : roles) role.start();

        // A few samples on the way, to see memory against hand-overs.
        long sampleEvery = TimeUnit.SECONDS.toNanos(Math.max(1, budget / 5));
        for (long next = began + sampleEvery; System.nanoTime() < deadline; next += sampleEvery) {
            sleepQuietly(Math.max(1, TimeUnit.NANOSECONDS.toMillis(Math.min(next, deadline) - System.nanoTime())));
            long seconds = TimeUnit.NANOSECONDS.toSeconds(System.nanoTime() - began);
            say("sample t=" + seconds + "s hand-overs=" + handOvers() + " memory " + memory());
        }
        for (Thread role : roles) joinBounded(role);

        int[] probes = probeTable();
        long total = handOvers();
        long seen = sawHanded.get() + sawZero.get() + sawEventsOff.get() + sawEarlier.get();
        double fraction = seen == 0 ? 0 : (double) sawHanded.get() / seen;
        say(String.format("summary hand-overs=%d (starts=%d notifies=%d) intercepted=%d zero=%d events-off=%d"
                        + " earlier-context=%d violations=%d unexpected=%d intercepted-fraction=%.3f",
                total, startHandOvers.get(), notifyHandOvers.get(), sawHanded.get(), sawZero.get(),
                sawEventsOff.get(), sawEarlier.get(), violations.get(), unexpected.get(), fraction));
        say(roleFigures());
        say("ordinary rounds=" + ordinaryRounds.get() + " pool-tasks=" + poolTasks.get() + " start-exceptions="
                + startExceptions.get() + " notify-exceptions=" + notifyExceptions.get() + " virtual-threads="
                + virtualThreads.get());
        say("probe own-context=" + probes[0] + "/" + PROBES + " zero=" + probes[1] + " events-off=" + probes[2]);
        say("memory start " + memoryAtStart + " end " + memory() + " elapsed="
                + TimeUnit.NANOSECONDS.toMillis(System.nanoTime() - began) + "ms");
        System.exit(violations.get() == 0 && unexpected.get() == 0 ? 0 : 1);
    }
}
