package com.kq.KQCloudPluginInterface;

/**
 * The outcome of one library call. The native plug-in asks for
 * {@link #getOrdinalValue()} and turns it into the host's return code.
 */
public class CErrorValue {
    private final ERRORID errorID;

    public CErrorValue() {
        this(ERRORID.SUCCESS);
    }

    public CErrorValue(ERRORID errorID) {
        this.errorID = errorID == null ? ERRORID.FAILURE : errorID;
    }

    public static CErrorValue success() {
        return new CErrorValue(ERRORID.SUCCESS);
    }

    public ERRORID getErrorID() {
        return errorID;
    }

    public int getOrdinalValue() {
        return errorID.ordinal();
    }

    public boolean isSuccess() {
        return getOrdinalValue() == 0;
    }

    @Override
    public String toString() {
        return "CErrorValue[" + errorID + "]";
    }
}
