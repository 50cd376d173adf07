package com.kq.AzureLibrary;

/**
 * One metadata property: its name and value. The no-argument constructor
 * leaves an empty {@link CPluginValue} in {@code val}: the native plug-in
 * builds arrays of these and fills the value object in place.
 */
public class CPluginMetaData {
    public String szPropertyName;
    public CPluginValue val;

    public CPluginMetaData() {
        this.val = new CPluginValue();
    }

    public CPluginMetaData(String szPropertyName, CPluginValue val) {
        this.szPropertyName = szPropertyName;
        this.val = val;
    }

    public CPluginMetaData(String szPropertyName, String value) {
        this(szPropertyName, new CPluginValue(value, CPropertyTYPE.STRING));
    }
}
