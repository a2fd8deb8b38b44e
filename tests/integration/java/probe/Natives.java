package probe;

import com.zeb.cif.service.PortNumber;
import com.zeb.nativeresource.win.PEPIOWrapper;
import plov.UpdateDialUPSettings;

/** Every native method of the three libraries once, through their own classes. */
final class Natives {
    static final String MODEM = "Pathmere real VM modem";
    static final String ENTRY = "Orvanta Link";

    private Natives() {
    }

    static void report() {
        print("getComPort", PortNumber.getComPort(MODEM));
        UpdateDialUPSettings dun = new UpdateDialUPSettings();
        print("isDUNpresent", String.valueOf(dun.isDUNpresent(ENTRY)));
        print("isDUNpresent(missing)", String.valueOf(dun.isDUNpresent("no such entry")));
        print("getIdleTime", String.valueOf(dun.getIdleTime(ENTRY)));
        // The long before the last argument moves it on the stack: 900 arrives only when the
        // export's argument size is the one the VM computed.
        print("updateDUN", String.valueOf(dun.updateDUN(ENTRY, 0x123456789AL, 900)));
        print("getIdleTime(updated)", String.valueOf(dun.getIdleTime(ENTRY)));
        PEPIOWrapper pep = new PEPIOWrapper();
        print("spoofingNI", String.valueOf(pep.spoofingNI(1)));
        print("configureMemoryNI", String.valueOf(pep.configureMemoryNI(64)));
        print("configureQoSNI", String.valueOf(pep.configureQoSNI(1, 2, 3, 4)));
        print("getActiveConnectionsNI", String.valueOf(pep.getActiveConnectionsNI()));
        print("getTimeActiveNI", String.valueOf(pep.getTimeActiveNI()));
        print("getMinorVersionNI", String.valueOf(pep.getMinorVersionNI()));
        print("getMajorVersionNI", String.valueOf(pep.getMajorVersionNI()));
        print("getAlarmsNI", String.valueOf(pep.getAlarmsNI()));
    }

    private static void print(String name, String value) {
        System.out.println("native: " + name + " = " + value);
    }
}
