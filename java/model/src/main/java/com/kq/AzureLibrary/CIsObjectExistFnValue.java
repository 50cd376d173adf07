package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.CErrorValue;

/** Result of a yes/no question. */
public class CIsObjectExistFnValue {
    public CErrorValue errorValue;
    public boolean isExist;

    public CIsObjectExistFnValue() {}

    public CIsObjectExistFnValue(CErrorValue errorValue, boolean isExist) {
        this.errorValue = errorValue;
        this.isExist = isExist;
    }
}
