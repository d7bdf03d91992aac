// A compute phase that runs before the application starts any thread: method
// events are on from start-up, so this is interpreted code with few calls.
// One thread start follows, after the timed phase. Argument: sieve size.
public final class StartupCompute {
    static volatile long sink;

    static long sieve(int size) {
        boolean[] composite = new boolean[size + 1];
        long sum = 0;
        for (int i = 2; i <= size; i++) {
            if (composite[i]) continue;
            sum += i;
            for (long j = (long) i * i; j <= size; j += i) {
                composite[(int) j] = true;
            }
        }
        return sum;
    }

    static final class Last extends Thread {
        @Override
        public void run() {
            sink++;
        }
    }

    public static void main(String[] args) throws InterruptedException {
        int size = Integer.parseInt(args[0]);

        long begin = System.nanoTime();
        long sum = 0;
        for (int pass = 0; pass < 4; pass++) {
            sum += sieve(size);
        }
        long end = System.nanoTime();
        sink = sum;

        Thread last = new Last();
        last.start();
        last.join();
        System.out.println("VESKBENCH StartupCompute workload_ns=" + (end - begin));
    }
}
