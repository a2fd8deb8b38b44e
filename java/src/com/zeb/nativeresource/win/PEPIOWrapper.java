package com.zeb.nativeresource.win;

/**
 * The PEP driver of the terminal's TCP accelerator, reached through Tarvik.dll. Every method is
 * one device control request (two for {@link #getAlarmsNI()}) and never throws: failures come
 * back as return values. Without the driver, {@link #spoofingNI(int)} returns -1 and the other
 * methods -1 or 0, depending on the driver-interface generation the library was built for.
 */
public class PEPIOWrapper {
    static {
        System.loadLibrary("Tarvik");
    }

    /** Switches spoofing on or off; the driver's answer. */
    public native int spoofingNI(int value);

    /** Sets the driver's memory configuration; the driver's answer. */
    public native int configureMemoryNI(int value);

    /**
     * Configures quality of service. The driver receives the low 8 bits of the first two values
     * and the low 16 bits of the last two.
     */
    public native int configureQoSNI(int first, int second, int third, int fourth);

    /** Number of connections the proxy currently accelerates. */
    public native int getActiveConnectionsNI();

    /** Time the proxy has been active, as the driver reports it (a signed 32-bit count). */
    public native long getTimeActiveNI();

    public native int getMinorVersionNI();

    public native int getMajorVersionNI();

    /**
     * Blocks until the driver reports an alarm and returns its code (0 for none). Other methods
     * may be called from other threads meanwhile.
     */
    public native int getAlarmsNI();
}
