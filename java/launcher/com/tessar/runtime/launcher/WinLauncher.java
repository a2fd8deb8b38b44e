package com.tessar.runtime.launcher;

import java.io.FileOutputStream;
import java.io.IOException;
import java.io.PrintStream;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;

/**
 * The Java launcher class that the native launcher calls with its argument array: GUI flag, main
 * class, error log path, output log path, flag, program path, then the application's and the
 * user's arguments. Sends standard error and output to the two log paths when they are not empty
 * (appending), then runs the main class with the arguments after the program path.
 */
public final class WinLauncher {
    private static final int LEADING = 6;

    private WinLauncher() {
    }

    public static void main(String[] args) throws Exception {
        launch(args);
    }

    /** Shared with the launcher-family class. */
    public static void launch(String[] args) throws Exception {
        if (args == null || args.length < LEADING - 1) {
            throw new IllegalArgumentException("the launcher passes at least five arguments");
        }
        redirect(args[2], true);
        redirect(args[3], false);
        int skip = Math.min(LEADING, args.length);
        String[] programArgs = new String[args.length - skip];
        System.arraycopy(args, skip, programArgs, 0, programArgs.length);
        Method main = findMain(args[1]);
        try {
            main.invoke(null, new Object[] {programArgs});
        } catch (InvocationTargetException e) {
            Throwable cause = e.getCause();
            if (cause instanceof Exception) {
                throw (Exception) cause;
            }
            if (cause instanceof Error) {
                throw (Error) cause;
            }
            throw e;
        }
    }

    private static Method findMain(String className) throws ClassNotFoundException, NoSuchMethodException {
        ClassLoader loader = Thread.currentThread().getContextClassLoader();
        if (loader == null) {
            loader = ClassLoader.getSystemClassLoader();
        }
        Class<?> mainClass = Class.forName(className, true, loader);
        Method main = mainClass.getMethod("main", new Class<?>[] {String[].class});
        if (!Modifier.isStatic(main.getModifiers())) {
            throw new NoSuchMethodException(className + ".main is not static");
        }
        return main;
    }

    /**
     * A log that cannot be opened (a read-only or missing folder, a locked file) must not end the
     * installation: the stream stays where it was and the reason goes to the error stream.
     */
    private static void redirect(String path, boolean errorStream) {
        if (path == null || path.length() == 0) {
            return;
        }
        PrintStream stream;
        try {
            stream = new PrintStream(new FileOutputStream(path, true), true);
        } catch (IOException e) {
            reportUnopenedLog(path, errorStream, e);
            return;
        } catch (SecurityException e) {
            reportUnopenedLog(path, errorStream, e);
            return;
        }
        if (errorStream) {
            System.setErr(stream);
        } else {
            System.setOut(stream);
        }
    }

    private static void reportUnopenedLog(String path, boolean errorStream, Exception reason) {
        System.err.println("Could not open the " + (errorStream ? "error" : "output") + " log " + path + " ("
                + reason + "); the stream stays where it was");
    }
}
