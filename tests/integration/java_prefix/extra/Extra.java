package extra;

/** Reachable only through a class-path prefix of the option sources. */
public final class Extra {
    public String toString() {
        return "extra.Extra loaded";
    }
}
