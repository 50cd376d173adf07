package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.CErrorValue;

/** Result of a write that returns the object's handle. */
public class CWObjectHandleFnValue {
    public CErrorValue errorValue;
    public String objHandle;

    public CWObjectHandleFnValue() {}

    public CWObjectHandleFnValue(CErrorValue errorValue, String objHandle) {
        this.errorValue = errorValue;
        this.objHandle = objHandle;
    }
}
