package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.CErrorValue;

/** Result of creating, opening or updating an object: the session handle (or, for GetBucketRegion, the region). */
public class CCreateFnValue {
    public CErrorValue errorValue;
    public String objHandle;

    public CCreateFnValue() {}

    public CCreateFnValue(CErrorValue errorValue, String objHandle) {
        this.errorValue = errorValue;
        this.objHandle = objHandle;
    }
}
