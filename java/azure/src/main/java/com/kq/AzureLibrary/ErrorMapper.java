package com.kq.AzureLibrary;

import com.azure.core.exception.HttpResponseException;
import com.azure.storage.blob.models.BlobErrorCode;
import com.azure.storage.blob.models.BlobStorageException;
import com.kq.KQCloudPluginInterface.ERRORID;
import java.io.IOException;
import java.io.InterruptedIOException;
import java.io.UncheckedIOException;
import java.util.concurrent.TimeoutException;
import javax.xml.stream.XMLStreamException;

/**
 * Translates whatever a storage call threw into the one {@link ERRORID} the host sees. Each kind of storage
 * failure has its own constant, chosen so that the native side's ordinal table gives it its own return code.
 */
final class ErrorMapper {
    private ErrorMapper() {}

    /** Walks the cause chain (the SDK wraps transport errors in reactive and unchecked wrappers). */
    static ERRORID classify(Throwable thrown) {
        int depth = 0;
        for (Throwable t = thrown; t != null && depth < 16; t = t.getCause(), depth++) {
            if (t instanceof StorageFailure) {
                return ((StorageFailure) t).id;
            }
            if (t instanceof BlobStorageException) {
                BlobStorageException e = (BlobStorageException) t;
                return fromService(e.getStatusCode(), e.getErrorCode());
            }
            if (t instanceof HttpResponseException && ((HttpResponseException) t).getResponse() != null) {
                return fromService(((HttpResponseException) t).getResponse().getStatusCode(), null);
            }
            if (t instanceof OutOfMemoryError) {
                return ERRORID.OUT_OF_MEMORY;
            }
            if (isTimeout(t)) {
                return ERRORID.TIMEOUT;
            }
            if (t instanceof XMLStreamException || unreadableAnswer(t)) {
                // The service answered, but with a document that does not parse (a listing holding a name XML
                // cannot carry), or with one that is not what the call expects: no network fault, and asking
                // again gets the same answer.
                return ERRORID.FAILURE;
            }
            if (t instanceof IOException || t instanceof UncheckedIOException) {
                // Keep looking: an IOException may wrap a more telling timeout.
                ERRORID deeper = t.getCause() == null ? null : classifyTransport(t.getCause(), depth + 1);
                return deeper != null ? deeper : ERRORID.NETWORK_ERROR;
            }
            if (t instanceof InterruptedException) {
                return ERRORID.CANCELLED;
            }
        }
        if (thrown instanceof IllegalArgumentException) {
            return ERRORID.INVALID_ARGUMENT;
        }
        return ERRORID.INTERNAL_ERROR;
    }

    private static ERRORID classifyTransport(Throwable t, int depth) {
        for (; t != null && depth < 16; t = t.getCause(), depth++) {
            if (t instanceof XMLStreamException || unreadableAnswer(t)) {
                return ERRORID.FAILURE;
            }
            if (isTimeout(t)) {
                return ERRORID.TIMEOUT;
            }
        }
        return null;
    }

    /**
     * An answer the SDK could not read into the model it expects (an empty body, another document than a listing:
     * another server behind the endpoint, a proxy's page) fails inside the SDK's own decoding, with an unchecked
     * exception of its code and no cause, where a fault of this library's would start in its own code.
     */
    private static boolean unreadableAnswer(Throwable t) {
        if (t.getCause() != null
                || !(t instanceof IllegalStateException
                        || t instanceof NullPointerException
                        || t instanceof ClassCastException)) {
            return false;
        }
        StackTraceElement[] frames = t.getStackTrace();
        return frames.length > 0 && frames[0].getClassName().startsWith("com.azure.");
    }

    /**
     * A time limit ran out: OkHttp's (its socket limits throw SocketTimeoutException, its call limit the
     * InterruptedIOException that SocketTimeoutException extends), or a wait of the library's own or of Reactor's
     * (TimeoutException).
     */
    private static boolean isTimeout(Throwable t) {
        return t instanceof InterruptedIOException || t instanceof TimeoutException;
    }

    /** A service answer: the storage error code when the service sent one, else the HTTP status. */
    static ERRORID fromService(int status, BlobErrorCode code) {
        if (code != null) {
            ERRORID byCode = fromCode(code);
            if (byCode != null) {
                return byCode;
            }
        }
        switch (status) {
            case 400:
            case 413:
                return ERRORID.INVALID_ARGUMENT;
            case 401:
                return ERRORID.AUTHENTICATION_FAILED;
            case 403:
                return ERRORID.ACCESS_DENIED;
            case 404:
                return ERRORID.OBJECT_NOT_FOUND;
            case 408:
            case 504:
                return ERRORID.TIMEOUT;
            case 409:
                return ERRORID.CONFLICT;
            case 412:
                return ERRORID.PRECONDITION_FAILED;
            case 416:
                return ERRORID.OFFSET_OUT_OF_RANGE;
            case 429:
                return ERRORID.THROTTLED;
            case 500:
            case 502:
            case 503:
                return ERRORID.SERVICE_UNAVAILABLE;
            default:
                return ERRORID.FAILURE;
        }
    }

    private static ERRORID fromCode(BlobErrorCode code) {
        if (code.equals(BlobErrorCode.BLOB_ARCHIVED) || code.equals(BlobErrorCode.BLOB_BEING_REHYDRATED)) {
            return ERRORID.READ_FAILED; // the object is in the Archive tier: it must be rehydrated to be read
        }
        if (code.equals(BlobErrorCode.BLOB_NOT_FOUND)) {
            return ERRORID.OBJECT_NOT_FOUND;
        }
        if (code.equals(BlobErrorCode.CONTAINER_NOT_FOUND)) {
            return ERRORID.CONTAINER_NOT_FOUND;
        }
        if (code.equals(BlobErrorCode.CONTAINER_BEING_DELETED)) {
            return ERRORID.CONTAINER_BEING_DELETED;
        }
        if (code.equals(BlobErrorCode.CONTAINER_ALREADY_EXISTS)) {
            return ERRORID.CONTAINER_ALREADY_EXISTS;
        }
        if (code.equals(BlobErrorCode.BLOB_ALREADY_EXISTS)) {
            return ERRORID.OBJECT_ALREADY_EXISTS;
        }
        if (code.equals(BlobErrorCode.AUTHENTICATION_FAILED)
                || code.equals(BlobErrorCode.INVALID_AUTHENTICATION_INFO)
                || code.equals(BlobErrorCode.NO_AUTHENTICATION_INFORMATION)) {
            return ERRORID.AUTHENTICATION_FAILED;
        }
        if (code.equals(BlobErrorCode.AUTHORIZATION_FAILURE)
                || code.equals(BlobErrorCode.AUTHORIZATION_PERMISSION_MISMATCH)
                || code.equals(BlobErrorCode.AUTHORIZATION_RESOURCE_TYPE_MISMATCH)
                || code.equals(BlobErrorCode.AUTHORIZATION_SERVICE_MISMATCH)
                || code.equals(BlobErrorCode.AUTHORIZATION_SOURCE_IPMISMATCH)
                || code.equals(BlobErrorCode.AUTHORIZATION_PROTOCOL_MISMATCH)
                || code.equals(BlobErrorCode.ACCOUNT_IS_DISABLED)
                || code.equals(BlobErrorCode.CONTAINER_DISABLED)
                || code.equals(BlobErrorCode.INSUFFICIENT_ACCOUNT_PERMISSIONS)) {
            return ERRORID.ACCESS_DENIED;
        }
        if (code.equals(BlobErrorCode.SERVER_BUSY)) {
            return ERRORID.THROTTLED;
        }
        if (code.equals(BlobErrorCode.OPERATION_TIMED_OUT)) {
            return ERRORID.TIMEOUT;
        }
        if (code.equals(BlobErrorCode.CONDITION_NOT_MET)) {
            return ERRORID.PRECONDITION_FAILED;
        }
        if (code.equals(BlobErrorCode.INVALID_RANGE)) {
            return ERRORID.OFFSET_OUT_OF_RANGE;
        }
        if (code.equals(BlobErrorCode.INVALID_METADATA)
                || code.equals(BlobErrorCode.METADATA_TOO_LARGE)
                || code.equals(BlobErrorCode.EMPTY_METADATA_KEY)) {
            return ERRORID.INVALID_METADATA;
        }
        if (code.equals(BlobErrorCode.INVALID_BLOCK_LIST)
                || code.equals(BlobErrorCode.INVALID_BLOCK_ID)
                || code.equals(BlobErrorCode.BLOCK_COUNT_EXCEEDS_LIMIT)
                || code.equals(BlobErrorCode.BLOCK_LIST_TOO_LONG)) {
            return ERRORID.COMMIT_FAILED;
        }
        if (code.equals(BlobErrorCode.MD5MISMATCH)) {
            return ERRORID.INTEGRITY_ERROR;
        }
        if (code.equals(BlobErrorCode.INVALID_RESOURCE_NAME) || code.equals(BlobErrorCode.INVALID_URI)) {
            return ERRORID.INVALID_NAME;
        }
        if (code.equals(BlobErrorCode.ACCOUNT_BEING_CREATED) || code.equals(BlobErrorCode.INTERNAL_ERROR)) {
            return ERRORID.SERVICE_UNAVAILABLE;
        }
        return null;
    }
}
