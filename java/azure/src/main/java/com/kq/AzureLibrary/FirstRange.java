package com.kq.AzureLibrary;

import com.azure.storage.blob.models.BlobDownloadAsyncResponse;
import com.azure.storage.blob.models.BlobDownloadHeaders;
import com.kq.KQCloudPluginInterface.ERRORID;
import java.io.IOException;
import java.util.Collections;
import java.util.Map;

/**
 * The first range of an object, asked for by the open of a read session in place of the object's properties. Its
 * answer's headers give what the session needs (length, ETag, metadata), and its body becomes the session's first
 * range fetched ahead: an open costs no round trip of its own, and a restore's first bytes are on their way before
 * its first read. The body lands in a pool buffer when {@link #body} reads it; {@link #end} lets it go unread.
 */
final class FirstRange {
    final long objectLength;
    final String eTag;
    final Map<String, String> metadata;
    /** The bytes the body holds: the range asked for, or the whole of a shorter object. */
    final int length;

    final byte[] buffer;
    /** When the request went out (System.nanoTime), so the read-ahead times the range as a whole. */
    final long requested;

    private final DataPath data;
    private final String blobName;
    private final BlobDownloadAsyncResponse response;
    private final long traced;
    private boolean ended;
    private boolean released;

    private FirstRange(
            DataPath data,
            String blobName,
            BlobDownloadAsyncResponse response,
            byte[] buffer,
            long requested,
            long traced,
            long objectLength) {
        BlobDownloadHeaders headers = response.getDeserializedHeaders();
        this.data = data;
        this.blobName = blobName;
        this.response = response;
        this.buffer = buffer;
        this.requested = requested;
        this.traced = traced;
        this.objectLength = objectLength;
        this.eTag = headers.getETag();
        this.metadata = headers.getMetadata() == null
                ? Collections.<String, String>emptyMap()
                : Collections.unmodifiableMap(headers.getMetadata());
        this.length = (int) Math.min(buffer.length, objectLength);
    }

    /**
     * The first range of an answer whose headers tell the object's length and version; null (nothing taken over)
     * for one that does not, whose caller then asks for the properties.
     */
    static FirstRange of(
            DataPath data, String blobName, BlobDownloadAsyncResponse r, byte[] buffer, long requested, long traced) {
        BlobDownloadHeaders h = r.getDeserializedHeaders();
        long objectLength = DataPath.lengthOf(h.getContentRange());
        if (objectLength <= 0 || h.getETag() == null) {
            return null;
        }
        return new FirstRange(data, blobName, r, buffer, requested, traced, objectLength);
    }

    /**
     * Reads the body into {@link #buffer} within one try's time limit and checks it by the service's MD5; any
     * failure is the range's alone, and its reader then reads those bytes itself (with retries).
     */
    int body() throws Exception {
        RangeTarget into = new RangeTarget(buffer, 0, length, DataPath.newMd5(), null);
        try {
            data.await(response.writeValueToAsync(into, null), data.retry.tryTimeout(length));
        } finally {
            into.end();
            end();
        }
        if (into.filled() != length
                || !into.passed(response.getDeserializedHeaders().getContentMd5())) {
            throw StorageFailure.of(ERRORID.INTEGRITY_ERROR);
        }
        return length;
    }

    /** Ends the answer, read or not (an unread body closes its connection). Idempotent. */
    void end() {
        synchronized (this) {
            if (ended) {
                return;
            }
            ended = true;
        }
        close(response);
        RangeTrace.end(traced, "get", blobName, 0, length);
    }

    /** Closes an answer whose body may be unread: its connection is dropped whatever close() says. */
    static void close(BlobDownloadAsyncResponse r) {
        try {
            r.close();
        } catch (IOException | RuntimeException e) {
            // dropped either way
        }
    }

    /** Ends the answer and gives the buffer back: for a range no read-ahead took over. Idempotent. */
    void abandon() {
        end();
        synchronized (this) {
            if (released) {
                return;
            }
            released = true;
        }
        data.pool.release(buffer, false);
    }
}
