package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.CErrorValue;

/** Result listing region names. */
public class KQListRegions {
    public CErrorValue errorValue;
    public String[] regionsList;

    public KQListRegions() {}

    public KQListRegions(CErrorValue errorValue, String[] regionsList) {
        this.errorValue = errorValue;
        this.regionsList = regionsList;
    }
}
