package com.nimbo.runtime;

/** A launcher class without main, for the real-JVM launch test's missing-method case. */
public final class WinLauncher {
    private WinLauncher() {
    }

    public static void run(String[] args) {
    }
}
