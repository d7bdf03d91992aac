// Call-heavy loop after start-up: one thread start first, so the loop runs with
// method events on and every call of step() is an entry and an exit event.
// Argument: number of calls.
public final class CallLoop {
    static volatile int sink;

    static int step(int x) {
        return x * 31 + 7;
    }

    static final class Warmup extends Thread {
        @Override
        public void run() {
            sink = 1;
        }
    }

    public static void main(String[] args) throws InterruptedException {
        long calls = Long.parseLong(args[0]);
        Thread warmup = new Warmup();
        warmup.start();
        warmup.join();

        long begin = System.nanoTime();
        int x = 0;
        for (long i = 0; i < calls; i++) {
            x = step(x);
        }
        long end = System.nanoTime();
        sink = x;
        System.out.println("VESKBENCH CallLoop workload_ns=" + (end - begin));
    }
}
