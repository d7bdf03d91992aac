import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.function.IntBinaryOperator;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Collectors;
import java.util.stream.IntStream;

/**
 * An everyday program that never touches the advice methods, full of calls the
 * agent looks at by name: Matcher.start(), ProcessBuilder.start(), a thread pool,
 * an application's own static start(int port), and a Thread subclass with static
 * start methods. It must run to its end as it would without the agent.
 */
public final class OrdinaryProgram {
    public static void main(String[] args) throws Exception {
        Pattern pair = Pattern.compile("(\\w+)=(\\d+)");
        Matcher matcher = pair.matcher("alpha=1 beta=22 gamma=333");
        int offsets = 0;
        int matches = 0;
        while (matcher.find()) {
            offsets += matcher.start() + matcher.start(2);
            matches++;
        }

        IntBinaryOperator add = (a, b) -> a + b;
        int lambdas = IntStream.rangeClosed(1, 10).reduce(0, add);
        String joined = IntStream.range(0, 4).mapToObj(Integer::toString).collect(Collectors.joining(","));

        ExecutorService pool = Executors.newFixedThreadPool(3);
        List<Future<Integer>> futures = new ArrayList<>();
        for (int i = 1; i <= 10; i++) {
            int n = i;
            futures.add(pool.submit(() -> n * n));
        }
        int squares = 0;
        for (Future<Integer> future : futures) squares += future.get();
        pool.shutdown();

        Process process = new ProcessBuilder("true").start();
        int exitCode = process.waitFor();

        // A thread that has started and ended leaves the agent watching every call.
        Thread plain = new Thread(() -> {});
        plain.start();
        plain.join();
        Server.start(8080);
        Worker.start("job");
        Worker.start(3);
        Worker worker = new Worker();
        worker.start();
        worker.join();

        System.out.println("ordinary: regex " + matches + "/" + offsets + ", lambdas " + lambdas + " " + joined
                + ", pool " + squares + ", process " + exitCode + ", server " + Server.port + ", workers " + Worker.calls + " "
                + worker.ran);
    }

    static final class Server {
        static int port;

        static void start(int port) {
            Server.port = port;
        }
    }

    /** A Thread subclass whose static start methods are not thread starts. */
    static final class Worker extends Thread {
        static int calls;
        volatile boolean ran;

        static void start(String job) {
            calls += job.length();
        }

        static void start(int times) {
            calls += times;
        }

        @Override
        public void run() {
            ran = true;
        }
    }
}
