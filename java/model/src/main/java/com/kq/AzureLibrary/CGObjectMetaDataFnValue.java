package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.CErrorValue;

/** Result carrying all metadata of one object. */
public class CGObjectMetaDataFnValue {
    public CErrorValue errorValue;
    public CPluginMetaData[] values;

    public CGObjectMetaDataFnValue() {}

    public CGObjectMetaDataFnValue(CErrorValue errorValue, CPluginMetaData[] values) {
        this.errorValue = errorValue;
        this.values = values;
    }
}
