package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.CErrorValue;

/** Result of a read that also returns metadata: bytes filled and the metadata. */
public class CRObjectByNameFnValue {
    public CErrorValue errorValue;
    public CPluginMetaData[] values;
    public long bytesRead;

    public CRObjectByNameFnValue() {}

    public CRObjectByNameFnValue(CErrorValue errorValue, CPluginMetaData[] values, long bytesRead) {
        this.errorValue = errorValue;
        this.values = values;
        this.bytesRead = bytesRead;
    }
}
