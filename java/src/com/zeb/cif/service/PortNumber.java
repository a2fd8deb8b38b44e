package com.zeb.cif.service;

/**
 * The COM port at which a modem of the satellite terminal is attached, as Windows records it
 * for its modem devices. Implemented by Nelvar.dll.
 */
public final class PortNumber {
    static {
        System.loadLibrary("Nelvar");
    }

    private PortNumber() {
    }

    /**
     * @param modelName the modem's model name exactly as Windows records it,
     *                  for example "Orvanta TL-700 port 1"
     * @return the port name (for example "COM3"), or "" when no modem of that model is installed
     *         or the modem has no recorded port; never throws
     */
    public static native String getComPort(String modelName);
}
