package plov;

/**
 * The dial-up networking phonebook entry through which the terminal connection is made, in the
 * system's default phonebook. Implemented by Pemtrel.dll; every call is independent.
 */
public class UpdateDialUPSettings {
    static {
        System.loadLibrary("Pemtrel");
    }

    /** @return false only when the phonebook has no entry of this name */
    public native boolean isDUNpresent(String connName);

    /** @return the entry's idle disconnect time in seconds; 0 also when it cannot be read */
    public native int getIdleTime(String connName);

    /**
     * Sets the entry's idle disconnect time and its redial count (3), keeping its other settings.
     * An entry that does not exist is not created.
     *
     * @param reserved not used by the native side
     * @return always true
     */
    public native boolean updateDUN(String connName, long reserved, int idleSeconds);
}
