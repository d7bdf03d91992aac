import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.CountDownLatch;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * A context registered on one thread reaches the threads it starts and their
 * children. Threads that read their context while other threads are still being
 * started wait until those starts have settled: a start that has returned before
 * its thread runs switches method events off for every thread until that thread
 * begins to run.
 */
public final class StartRoad {
    public static void main(String[] args) {
        // The JVM's own start of its cleaner thread may leave method events off for
        // the first moments of main(); once a started thread has run they are on.
        Context.startAndJoinHelper();
        switch (args[0]) {
            case "family": family(); break;
            case "children": children(false); break;
            case "regex-children": children(true); break;
            case "contexts": contexts(); break;
            default: throw new IllegalArgumentException(args[0]);
        }
    }

    /** Children started one after another, each starting a grandchild. */
    static void family() {
        Context.enter(7);
        int[] parent = {Context.current()};
        int[] children = new int[3];
        int[] grandchildren = new int[3];
        for (int i = 0; i < children.length; i++) {
            int n = i;
            Thread child = new Thread(() -> {
                children[n] = Context.current();
                Thread grandchild = new Thread(() -> grandchildren[n] = Context.current());
                grandchild.start();
                Context.join(grandchild);
            });
            child.start();
            Context.join(child);
        }
        System.out.println("family: " + Context.tally("parent", 7, parent) + ", "
                + Context.tally("children", 7, children) + ", "
                + Context.tally("grandchildren", 7, grandchildren));
    }

    /** Fifty children of one context, optionally after the parent used Matcher.start(). */
    static void children(boolean regex) {
        Context.enter(11);
        Pattern pattern = Pattern.compile("worker-(\\d+)");
        if (regex) {
            Matcher matcher = pattern.matcher("pool worker-42 ready");
            if (!matcher.find() || matcher.start(1) != 12) throw new IllegalStateException("regex");
        }
        CountDownLatch go = new CountDownLatch(1);
        int[] seen = new int[50];
        List<Thread> threads = new ArrayList<>();
        for (int i = 0; i < seen.length; i++) {
            String name = "worker-" + i;
            int n = regex ? parseIndex(pattern, name) : i;
            threads.add(Context.launch(name, () -> {
                Context.await(go);
                seen[n] = Context.current();
            }));
        }
        go.countDown();
        threads.forEach(Context::join);
        System.out.println((regex ? "regex-children: " : "children: ") + Context.tally("children", 11, seen));
    }

    static int parseIndex(Pattern pattern, String name) {
        Matcher matcher = pattern.matcher(name);
        if (!matcher.matches()) throw new IllegalStateException(name);
        return Integer.parseInt(name.substring(matcher.start(1)));
    }

    /** Twenty live contexts, each on its own thread with two children of its own. */
    static void contexts() {
        int count = 20;
        int perContext = 2;
        CountDownLatch register = new CountDownLatch(1);
        CountDownLatch registered = new CountDownLatch(count);
        CountDownLatch launched = new CountDownLatch(count);
        CountDownLatch read = new CountDownLatch(1);
        Object starts = new Object();
        int[] owners = new int[count];
        int[][] children = new int[count][perContext];
        List<Thread> threads = new ArrayList<>();
        for (int i = 0; i < count; i++) {
            int n = i;
            threads.add(Context.launch("context-" + i, () -> {
                Context.await(register);
                Context.enter(100 + n);
                registered.countDown();
                Context.await(registered);
                List<Thread> mine = new ArrayList<>();
                // One context at a time starts its children, each settled before the next.
                synchronized (starts) {
                    for (int j = 0; j < perContext; j++) {
                        int m = j;
                        mine.add(Context.launch("child-" + n + "-" + j, () -> {
                            Context.await(read);
                            children[n][m] = Context.current();
                        }));
                    }
                }
                launched.countDown();
                Context.await(read);
                owners[n] = Context.current();
                mine.forEach(Context::join);
            }));
        }
        register.countDown();
        Context.await(launched);
        read.countDown();
        threads.forEach(Context::join);
        int ownersRight = 0;
        int childrenRight = 0;
        StringBuilder wrong = new StringBuilder();
        for (int i = 0; i < count; i++) {
            if (owners[i] == 100 + i) ownersRight++;
            else wrong.append(" owner").append(i).append('=').append(owners[i]);
            for (int j = 0; j < perContext; j++) {
                if (children[i][j] == 100 + i) childrenRight++;
                else wrong.append(" child").append(i).append('.').append(j).append('=').append(children[i][j]);
            }
        }
        System.out.println("contexts: owners " + ownersRight + "/" + count + ", children "
                + childrenRight + "/" + count * perContext + wrong);
    }
}
