package com.kq.AzureLibrary;

import java.util.Map;

/**
 * An object opened for reading: the committed blob's length, ETag and metadata as they were at the open. Reads
 * are bound to that ETag, so a blob replaced or changed after the open fails the read instead of mixing versions.
 * Immutable, so any number of threads may read through it at once.
 */
record ReadSession(String handle, String blobName, StorageConnection connection, long length, String eTag,
                   Map<String, String> storedMetadata) implements Session {
}
