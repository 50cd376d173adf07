package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.CErrorValue;

/** Result listing containers (or archive sets). */
public class KQListContainers {
    public CErrorValue errorValue;
    public KQAzureContainer[] containers;

    public KQListContainers() {}

    public KQListContainers(CErrorValue errorValue, KQAzureContainer[] containers) {
        this.errorValue = errorValue;
        this.containers = containers;
    }
}
