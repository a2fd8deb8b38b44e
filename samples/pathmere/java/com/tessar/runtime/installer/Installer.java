package com.tessar.runtime.installer;

/**
 * The sample's Java installer program: the main class of the sample configuration. It installs
 * nothing; it shows what reached it through the native launcher and the Java launcher class.
 * Compiled for class file version 50 (ecj -1.6), as everything the installer carries.
 */
public final class Installer {
    private static final String[] PROPERTIES = {
        "nimbo.moduleName", "nimbo.firstRun", "sun.java2d.noddraw", "java.version", "java.vm.name",
    };

    private Installer() {
    }

    /**
     * What every Java program behind the launcher must do once it has started: remove the start
     * marker, or the next start asks whether the last one failed.
     */
    private static void clearStartMarker() {
        try {
            Process reg = Runtime.getRuntime().exec(new String[] {
                "reg", "delete", "HKCU\\SOFTWARE\\harwell\\nimbo", "/v", "InstallStarted", "/f"});
            int status = reg.waitFor();
            System.out.println("sample installer: start marker cleared (reg exit code " + status + ")");
        } catch (Exception e) {
            System.out.println("sample installer: could not clear the start marker: " + e);
        }
    }

    public static void main(String[] args) {
        clearStartMarker();
        System.out.println("sample installer: main reached with " + args.length + " argument(s)");
        for (int i = 0; i < args.length; i++) {
            System.out.println("sample installer: args[" + i + "] = " + args[i]);
        }
        for (int i = 0; i < PROPERTIES.length; i++) {
            System.out.println("sample installer: " + PROPERTIES[i] + " = " + System.getProperty(PROPERTIES[i]));
        }
    }
}
