package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.CErrorValue;

/** Result of reading one metadata item: its value text. */
public class CGetObjectMetaData {
    public CErrorValue errorValue;
    public String value;

    public CGetObjectMetaData() {}

    public CGetObjectMetaData(CErrorValue errorValue, String value) {
        this.errorValue = errorValue;
        this.value = value;
    }
}
