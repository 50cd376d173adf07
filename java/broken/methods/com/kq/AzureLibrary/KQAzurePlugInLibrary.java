package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.CErrorValue;

/**
 * A library that can be constructed but lacks methods the plug-in needs:
 * AzureInit exists only with a signature the plug-in does not ask for, and no
 * storage method exists at all.
 */
public class KQAzurePlugInLibrary {
    public KQAzurePlugInLibrary(String installRoot) {}

    public CErrorValue AzureInit(String initArg) {
        return CErrorValue.success();
    }

    public CErrorValue AzureDeInit() {
        return CErrorValue.success();
    }
}
