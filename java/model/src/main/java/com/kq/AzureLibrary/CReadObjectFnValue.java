package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.CErrorValue;

/** Result of a plain read: how many bytes of the caller's array were filled. */
public class CReadObjectFnValue {
    public CErrorValue errorValue;
    public long sizeRead;

    public CReadObjectFnValue() {}

    public CReadObjectFnValue(CErrorValue errorValue, long sizeRead) {
        this.errorValue = errorValue;
        this.sizeRead = sizeRead;
    }
}
