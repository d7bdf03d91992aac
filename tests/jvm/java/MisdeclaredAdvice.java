/**
 * Advice methods whose slot 1 the agent cannot read or write as an int. The agent
 * ends the process with one line naming the refused operation and status 255, so
 * nothing after the call may run.
 */
public final class MisdeclaredAdvice {
    public static void main(String[] args) {
        // Method events are on once a started thread has run, so the agent sees the call.
        Context.startAndJoinHelper();
        switch (args[0]) {
            case "before-without-parameters": NoParameters.beforeAdvice(); break;
            case "before-reference": new ReferenceSlot().beforeAdvice("7"); break;
            case "before-native": new NativeAdvice().beforeAdvice(7); break;
            case "after-native": new NativeAdvice().afterAdvice(0); break;
            case "after-reference": new ReferenceSlot().afterAdvice("0"); break;
            default: throw new IllegalArgumentException(args[0]);
        }
        System.out.println("survived " + args[0]);
    }

    static final class NoParameters {
        static void beforeAdvice() {}
    }

    static final class ReferenceSlot {
        void beforeAdvice(String uid) {}

        void afterAdvice(String uid) {}
    }

    static final class NativeAdvice {
        native void beforeAdvice(int uid);

        native int afterAdvice(int uid);
    }
}
