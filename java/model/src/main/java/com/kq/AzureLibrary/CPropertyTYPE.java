package com.kq.AzureLibrary;

/**
 * Type of a metadata property. The native side carries the type as a 32-bit
 * number equal to the constant's ordinal, so constants may be appended but
 * never reordered. A native number with no constant reads as STRING.
 */
public enum CPropertyTYPE {
    STRING,
    INTEGER,
    DATETIME,
    BOOLEAN,
    BINARY;

    public static CPropertyTYPE fromNative(int value) {
        CPropertyTYPE[] all = values();
        return value >= 0 && value < all.length ? all[value] : STRING;
    }
}
