package com.kq.plugin.model;

import com.kq.KQCloudPluginInterface.CErrorValue;

/** Result carrying one text (a storage key). */
public class CString {
    public CErrorValue errorValue;
    public String value;

    public CString() {}

    public CString(CErrorValue errorValue, String value) {
        this.errorValue = errorValue;
        this.value = value;
    }
}
