package com.kq.AzureLibrary;

/** One entry of a container list. */
public class KQAzureContainer {
    public String containerName;

    public KQAzureContainer() {}

    public KQAzureContainer(String containerName) {
        this.containerName = containerName;
    }
}
