// Many short threads: the main thread takes one of `contexts` uids before each
// start, so every start hands a context over and every child reads it back.
// Arguments: number of threads, number of contexts, threads alive at once.
public final class ThreadStorm {
    static volatile int sink;

    static void beforeAdvice(int unused, int uid) {
    }

    static int afterAdvice(int unused, int uid) {
        return uid;
    }

    static final class Child extends Thread {
        @Override
        public void run() {
            sink += afterAdvice(0, 0);
        }
    }

    public static void main(String[] args) throws InterruptedException {
        int threads = Integer.parseInt(args[0]);
        int contexts = Integer.parseInt(args[1]);
        int batch = Integer.parseInt(args[2]);
        Thread[] alive = new Thread[batch];

        long begin = System.nanoTime();
        for (int started = 0; started < threads; started += batch) {
            int count = Math.min(batch, threads - started);
            for (int i = 0; i < count; i++) {
                beforeAdvice(0, 1 + (started + i) % contexts);
                alive[i] = new Child();
                alive[i].start();
            }
            for (int i = 0; i < count; i++) {
                alive[i].join();
            }
        }
        long end = System.nanoTime();
        System.out.println("VESKBENCH ThreadStorm workload_ns=" + (end - begin));
    }
}
