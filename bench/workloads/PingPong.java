// Two threads, each with its own context, pass a turn back and forth with
// wait/notify. With rearmEvery > 0 the first player starts an empty thread every
// rearmEvery rounds, which switches method events back on, so the notify that
// follows goes through the agent's notify handling again.
// Arguments: rounds, rearmEvery (0: never).
public final class PingPong {
    static final Object table = new Object();
    static int turn;
    static volatile int sink;

    static void beforeAdvice(int unused, int uid) {
    }

    static int afterAdvice(int unused, int uid) {
        return uid;
    }

    static final class Empty extends Thread {
        @Override
        public void run() {
        }
    }

    static final class Player extends Thread {
        private final int me;
        private final int rounds;
        private final int rearmEvery;

        Player(int me, int rounds, int rearmEvery) {
            this.me = me;
            this.rounds = rounds;
            this.rearmEvery = rearmEvery;
        }

        @Override
        public void run() {
            beforeAdvice(0, 100 + me);
            try {
                for (int round = 0; round < rounds; round++) {
                    synchronized (table) {
                        while (turn != me) {
                            table.wait();
                        }
                        if (me == 0 && rearmEvery > 0 && round % rearmEvery == 0) {
                            new Empty().start();
                        }
                        turn = 1 - me;
                        table.notify();
                    }
                }
            } catch (InterruptedException e) {
                throw new IllegalStateException(e);
            }
            sink += afterAdvice(0, 0);
        }
    }

    public static void main(String[] args) throws InterruptedException {
        int rounds = Integer.parseInt(args[0]);
        int rearmEvery = Integer.parseInt(args[1]);

        long begin = System.nanoTime();
        Player first = new Player(0, rounds, rearmEvery);
        Player second = new Player(1, rounds, rearmEvery);
        first.start();
        second.start();
        first.join();
        second.join();
        long end = System.nanoTime();
        System.out.println("VESKBENCH PingPong workload_ns=" + (end - begin));
    }
}
