package probe;

import java.io.File;

/**
 * The Java program of the launcher's tests in a real VM: prints what reached it (its arguments,
 * the system properties the launcher and the option sources set, whether a class of a class-path
 * prefix loads), one line on the error stream, then does what its last argument asks: "exit=N"
 * calls System.exit(N), "throw" lets an exception escape main, "natives" calls the JNI
 * libraries through their own classes; anything else returns. An argument "thread" first starts
 * a thread that outlives main by a second.
 */
public final class Probe {
    private static final String[] PROPERTIES = {
        "nimbo.semaphoreName", "nimbo.isTessar", "nimbo.moduleName", "sun.java.command", "nimbo.tempDir",
        "nimbo.unextractedPosition", "java.library.path", "nimbo.consoleCodepage", "java.class.path",
        "probe.configured", "probe.vmoptions", "probe.commandLine",
    };

    private Probe() {
    }

    public static void main(String[] args) throws Exception {
        System.out.println("probe: main reached with " + args.length + " argument(s)");
        for (int i = 0; i < args.length; i++) {
            System.out.println("probe: args[" + i + "] = " + args[i]);
        }
        for (int i = 0; i < PROPERTIES.length; i++) {
            System.out.println("probe: " + PROPERTIES[i] + " = " + System.getProperty(PROPERTIES[i]));
        }
        String temp = System.getProperty("nimbo.tempDir");
        System.out.println("probe: own jar in nimbo.tempDir = " + (temp != null && new File(temp, "probe.jar").isFile()));
        System.out.println("probe: class-path prefix = " + prefixClass());
        System.err.println("probe: on the error stream");
        for (int i = 0; i < args.length; i++) {
            if (args[i].equals("thread")) {
                startLateThread();
            }
        }
        String action = args.length > 0 ? args[args.length - 1] : "";
        if (action.startsWith("exit=")) {
            System.out.println("probe: exiting with " + action.substring(5));
            System.exit(Integer.parseInt(action.substring(5)));
        }
        if (action.equals("throw")) {
            throw new IllegalStateException("probe failure");
        }
        if (action.equals("natives")) {
            Natives.report();
        }
        System.out.println("probe: main returns");
    }

    private static void startLateThread() {
        new Thread() {
            public void run() {
                try {
                    Thread.sleep(1000);
                } catch (InterruptedException e) {
                    return;
                }
                System.out.println("probe: thread done");
            }
        }.start();
    }

    private static String prefixClass() throws Exception {
        try {
            return Class.forName("extra.Extra").newInstance().toString();
        } catch (ClassNotFoundException e) {
            return "not found";
        }
    }
}
