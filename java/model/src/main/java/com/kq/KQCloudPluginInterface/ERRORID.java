package com.kq.KQCloudPluginInterface;

/**
 * Error identifiers of the Java library. The ORDINAL of each constant is what
 * crosses to the native plug-in, which maps it to the host's return code, so
 * constants may be appended but never reordered or removed.
 *
 * <p>Native code for each ordinal (after the plug-in's mapping) is noted on
 * the right. Ordinals 38, 39, 41 and 44 to 46 share codes with others and are
 * kept only to hold the numbering.
 */
public enum ERRORID {
    SUCCESS, // 0  -> 0
    FAILURE, // 1  -> 1
    NOT_INITIALIZED, // 2  -> 2
    INVALID_ARGUMENT, // 3  -> 7
    OBJECT_NOT_FOUND, // 4  -> 4
    CONTAINER_NOT_FOUND, // 5  -> 5
    ACCESS_DENIED, // 6  -> 6
    AUTHENTICATION_FAILED, // 7  -> 8
    OBJECT_ALREADY_EXISTS, // 8  -> 9
    CONTAINER_ALREADY_EXISTS, // 9  -> 10
    INVALID_HANDLE, // 10 -> 11
    HANDLE_IN_USE, // 11 -> 12
    READ_FAILED, // 12 -> 13
    BUFFER_UNAVAILABLE, // 13 -> 14
    WRITE_FAILED, // 14 -> 15
    COMMIT_FAILED, // 15 -> 16
    DELETE_FAILED, // 16 -> 17
    INVALID_METADATA, // 17 -> 18
    METADATA_NOT_FOUND, // 18 -> 19
    NETWORK_ERROR, // 19 -> 20
    TIMEOUT, // 20 -> 21
    THROTTLED, // 21 -> 22
    SERVICE_UNAVAILABLE, // 22 -> 23
    NOT_SUPPORTED, // 23 -> 24
    QUOTA_EXCEEDED, // 24 -> 25
    CONFLICT, // 25 -> 26
    PRECONDITION_FAILED, // 26 -> 27
    INVALID_CONFIGURATION, // 27 -> 30
    INVALID_CONNECTION_STRING, // 28 -> 29
    CONTAINER_BEING_DELETED, // 29 -> 30
    INVALID_NAME, // 30 -> 31
    OFFSET_OUT_OF_RANGE, // 31 -> 32
    SIZE_MISMATCH, // 32 -> 33
    INTEGRITY_ERROR, // 33 -> 34
    ACCOUNT_INFO_UNAVAILABLE, // 34 -> 35
    STORAGE_KEY_UNAVAILABLE, // 35 -> 36
    JOB_INFO_REJECTED, // 36 -> 37
    BACKUP_NOT_ALLOWED, // 37 -> 38
    UNSPECIFIED_38, // 38 -> 1
    UNSPECIFIED_39, // 39 -> 1
    INTERNAL_ERROR, // 40 -> 47
    UNSPECIFIED_41, // 41 -> 1
    CANCELLED, // 42 -> 42
    OUT_OF_MEMORY, // 43 -> 43
    UNSPECIFIED_44, // 44 -> 23
    UNSPECIFIED_45, // 45 -> 23
    UNSPECIFIED_46, // 46 -> 23
    LIBRARY_CLOSED, // 47 -> 45
    SESSION_CLOSED; // 48 -> 46
}
