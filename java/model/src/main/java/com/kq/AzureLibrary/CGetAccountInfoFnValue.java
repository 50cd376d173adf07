package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.CErrorValue;

/** Result describing the storage account. */
public class CGetAccountInfoFnValue {
    public CErrorValue errorValue;
    public String accountIndentity;
    public String accountType;
    public String displayName;
    public String emailAddress;
    public long usedSizeInByteTotal;
    public long remainedSizeInByteTotal;

    public CGetAccountInfoFnValue() {}

    public CGetAccountInfoFnValue(
            CErrorValue errorValue,
            String accountIndentity,
            String accountType,
            String displayName,
            String emailAddress,
            long usedSizeInByteTotal,
            long remainedSizeInByteTotal) {
        this.errorValue = errorValue;
        this.accountIndentity = accountIndentity;
        this.accountType = accountType;
        this.displayName = displayName;
        this.emailAddress = emailAddress;
        this.usedSizeInByteTotal = usedSizeInByteTotal;
        this.remainedSizeInByteTotal = remainedSizeInByteTotal;
    }
}
