package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.CErrorValue;

/** A library without the constructor taking the installation root. */
public class KQAzurePlugInLibrary {
    public KQAzurePlugInLibrary() {}

    public CErrorValue AzureInit(String initArg, String installPath) {
        return CErrorValue.success();
    }

    public CErrorValue AzureDeInit() {
        return CErrorValue.success();
    }
}
