package com.kq.plugin.model;

import com.kq.KQCloudPluginInterface.CErrorValue;

/** Result carrying one 32-bit number. */
public class CInt {
    public int value;
    public CErrorValue errorValue;

    public CInt() {}

    public CInt(int value, CErrorValue errorValue) {
        this.value = value;
        this.errorValue = errorValue;
    }
}
