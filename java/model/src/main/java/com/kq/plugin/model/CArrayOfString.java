package com.kq.plugin.model;

import com.kq.KQCloudPluginInterface.CErrorValue;

/** Result listing texts (machine names). */
public class CArrayOfString {
    public CErrorValue errorValue;
    public String[] arrayOfString;

    public CArrayOfString() {}

    public CArrayOfString(CErrorValue errorValue, String[] arrayOfString) {
        this.errorValue = errorValue;
        this.arrayOfString = arrayOfString;
    }
}
