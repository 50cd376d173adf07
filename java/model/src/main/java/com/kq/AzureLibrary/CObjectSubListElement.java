package com.kq.AzureLibrary;

/** One object of a sub-list: its name and metadata. */
public class CObjectSubListElement {
    public String szFileName;
    public CPluginMetaData[] metaDat;

    public CObjectSubListElement() {}

    public CObjectSubListElement(String szFileName, CPluginMetaData[] metaDat) {
        this.szFileName = szFileName;
        this.metaDat = metaDat;
    }
}
