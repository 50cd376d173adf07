package com.kq.AzureLibrary;

import java.util.Map;

/**
 * An object opened for reading: the committed blob's length, ETag and metadata as they were at the open. Reads
 * are bound to that ETag, so a blob replaced or changed after the open fails the read instead of mixing versions.
 * Immutable, so any number of threads may read through it at once.
 */
final class ReadSession implements Session {
    private final String handle;
    private final String blobName;
    private final StorageConnection connection;
    private final long length;
    private final String eTag;
    private final Map<String, String> storedMetadata;

    ReadSession(
            String handle,
            String blobName,
            StorageConnection connection,
            long length,
            String eTag,
            Map<String, String> storedMetadata) {
        this.handle = handle;
        this.blobName = blobName;
        this.connection = connection;
        this.length = length;
        this.eTag = eTag;
        this.storedMetadata = storedMetadata;
    }

    @Override
    public String handle() {
        return handle;
    }

    @Override
    public String blobName() {
        return blobName;
    }

    StorageConnection connection() {
        return connection;
    }

    long length() {
        return length;
    }

    String eTag() {
        return eTag;
    }

    Map<String, String> storedMetadata() {
        return storedMetadata;
    }
}
