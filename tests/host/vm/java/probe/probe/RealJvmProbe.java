package probe;

import java.io.FileOutputStream;
import java.io.OutputStreamWriter;
import java.io.Writer;

/**
 * The main class of the real-JVM launch test: writes its arguments and the system properties the
 * launcher sets to the file named by "probe.out", one "name=value" line each, with every
 * character outside printable ASCII written as \\uXXXX, then one line on standard output and one on
 * standard error. "probe.mode=throw" makes it throw.
 */
public final class RealJvmProbe {
    private static final String[] PROPERTIES = {
        "nimbo.semaphoreName", "nimbo.manualJre", "nimbo.isTessar", "nimbo.moduleName", "sun.java.command",
        "nimbo.processCommFile", "nimbo.tempDir", "nimbo.unextractedPosition", "java.library.path",
        "nimbo.consoleCodepage", "java.class.path", "probe.included", "probe.nested", "probe.j", "probe.file",
        "probe.configured",
    };

    private RealJvmProbe() {
    }

    public static void main(String[] args) throws Exception {
        Writer out = new OutputStreamWriter(new FileOutputStream(System.getProperty("probe.out")), "US-ASCII");
        out.write("argc=" + args.length + "\n");
        for (int i = 0; i < args.length; ++i) {
            out.write("arg" + i + "=" + escape(args[i]) + "\n");
        }
        for (int i = 0; i < PROPERTIES.length; ++i) {
            String value = System.getProperty(PROPERTIES[i]);
            out.write(PROPERTIES[i] + "=" + (value == null ? "<absent>" : escape(value)) + "\n");
        }
        out.close();
        System.out.println("probe standard output");
        System.err.println("probe standard error");
        if ("throw".equals(System.getProperty("probe.mode"))) {
            throw new IllegalStateException("thrown by the probe");
        }
    }

    private static String escape(String text) {
        StringBuffer escaped = new StringBuffer();
        for (int i = 0; i < text.length(); ++i) {
            char c = text.charAt(i);
            if (c >= 0x20 && c < 0x7f && c != '\\') {
                escaped.append(c);
            } else {
                String hex = Integer.toHexString(c);
                escaped.append("\\u");
                for (int pad = hex.length(); pad < 4; ++pad) {
                    escaped.append('0');
                }
                escaped.append(hex);
            }
        }
        return escaped.toString();
    }
}
