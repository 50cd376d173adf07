package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.CErrorValue;
import java.util.Arrays;

/**
 * The library as the data-path benchmark sees it: a write only takes the
 * array, a read only fills it.  Whatever time remains in a measured call is
 * the plug-in's and the JNI's.
 */
public class KQAzurePlugInLibrary {
    private static final CErrorValue SUCCESS = new CErrorValue();
    private static final byte FILL = 0x5a;

    public KQAzurePlugInLibrary(String installPath) {}

    public CErrorValue AzureInit(String initArg, String installPath) {
        return SUCCESS;
    }

    public CErrorValue AzureDeInit() {
        return SUCCESS;
    }

    public CErrorValue WriteObject(String object, byte[] data, long size) {
        return SUCCESS;
    }

    public CReadObjectFnValue ReadObject(String object, byte[] data, long size, long offset) {
        fill(data);
        return new CReadObjectFnValue(SUCCESS, data.length);
    }

    /** The fill of a read on its own, for the raw read floor. */
    public static void fill(byte[] data) {
        Arrays.fill(data, FILL);
    }
}
