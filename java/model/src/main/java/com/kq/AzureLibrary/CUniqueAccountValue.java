package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.CErrorValue;

/** Result carrying an account-level name (container, account, owner). */
public class CUniqueAccountValue {
    public CErrorValue errorValue;
    public String accountName;

    public CUniqueAccountValue() {}

    public CUniqueAccountValue(CErrorValue errorValue, String accountName) {
        this.errorValue = errorValue;
        this.accountName = accountName;
    }
}
