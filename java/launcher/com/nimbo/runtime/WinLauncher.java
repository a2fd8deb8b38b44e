package com.nimbo.runtime;

/** The launcher-family Java launcher class: the same contract as the installer family's. */
public final class WinLauncher {
    private WinLauncher() {
    }

    public static void main(String[] args) throws Exception {
        com.tessar.runtime.launcher.WinLauncher.launch(args);
    }
}
