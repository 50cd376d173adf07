package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.CErrorValue;

/** Result carrying a size in bytes. */
public class CGetAccountSizeValue {
    public CErrorValue errorValue;
    public long size;

    public CGetAccountSizeValue() {}

    public CGetAccountSizeValue(CErrorValue errorValue, long size) {
        this.errorValue = errorValue;
        this.size = size;
    }
}
