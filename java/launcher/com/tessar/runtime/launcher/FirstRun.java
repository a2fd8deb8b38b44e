package com.tessar.runtime.launcher;

/**
 * Asked by the native launcher before main when the installation's first-run marker exists.
 * The start may go on unless the system property "nimbo.firstRun" is "false" (set, for
 * example, in the configured VM options or a .vmoptions file).
 */
public final class FirstRun {
    private FirstRun() {
    }

    public static boolean firstRun() {
        return !"false".equals(System.getProperty("nimbo.firstRun"));
    }
}
