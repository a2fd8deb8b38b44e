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

    public static void main(String[] args) {
        System.out.println("sample installer: main reached with " + args.length + " argument(s)");
        for (int i = 0; i < args.length; i++) {
            System.out.println("sample installer: args[" + i + "] = " + args[i]);
        }
        for (int i = 0; i < PROPERTIES.length; i++) {
            System.out.println("sample installer: " + PROPERTIES[i] + " = " + System.getProperty(PROPERTIES[i]));
        }
    }
}
