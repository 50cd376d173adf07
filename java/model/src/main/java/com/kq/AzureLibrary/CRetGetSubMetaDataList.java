package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.CErrorValue;

/** Result listing the objects under a name, each with its metadata. */
public class CRetGetSubMetaDataList {
    public CErrorValue errorValue;
    public CObjectSubListElement[] metaDat;

    public CRetGetSubMetaDataList() {}

    public CRetGetSubMetaDataList(CErrorValue errorValue, CObjectSubListElement[] metaDat) {
        this.errorValue = errorValue;
        this.metaDat = metaDat;
    }
}
