package com.nimbo.runtime;

/** A launcher class that records the whole argument array the native launcher built. */
public final class WinLauncher {
    private WinLauncher() {
    }

    public static void main(String[] args) throws Exception {
        probe.RealJvmProbe.main(args);
    }
}
