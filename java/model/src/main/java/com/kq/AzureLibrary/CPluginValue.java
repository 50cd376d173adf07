package com.kq.AzureLibrary;

/** The value of one metadata property: its text and type. */
public class CPluginValue {
    public String szProperty;
    public CPropertyTYPE prpType = CPropertyTYPE.STRING;

    public CPluginValue() {}

    public CPluginValue(String szProperty, CPropertyTYPE prpType) {
        this.szProperty = szProperty;
        this.prpType = prpType;
    }
}
