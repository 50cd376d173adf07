package com.kq.AzureLibrary;

import static com.kq.AzureLibrary.ObjectNames.require;

import com.azure.storage.blob.models.BlobProperties;
import com.azure.storage.blob.models.BlobStorageException;
import com.azure.storage.blob.specialized.BlockBlobClient;
import com.kq.KQCloudPluginInterface.CErrorValue;
import com.kq.KQCloudPluginInterface.ERRORID;
import java.util.Arrays;
import java.util.Collections;
import java.util.HashMap;
import java.util.HashSet;
import java.util.Map;
import java.util.Set;
import java.util.function.Supplier;

/**
 * Reads of committed objects: through a read session (bound to the version it opened, with read-ahead) or by name
 * (whatever version is there now), and their metadata.
 */
final class ObjectReads extends ObjectAccess {
    ObjectReads(SessionTable sessions, Supplier<StorageConnection> connection, Supplier<DataPath> data) {
        super(sessions, connection, data);
    }

    static final class ReadResult {
        final long bytes;
        final Map<String, String> storedMetadata;

        ReadResult(long bytes, Map<String, String> storedMetadata) {
            this.bytes = bytes;
            this.storedMetadata = storedMetadata;
        }
    }

    /**
     * Opens a read session on the object as it is now; its handle. The object's first range answers what the
     * session needs and becomes its first range read ahead; only when it cannot (see {@link DataPath#firstRange})
     * are the properties asked for.
     */
    String open(String name) {
        StorageConnection c = conn();
        String blob = objectName(name);
        DataPath data = dataPath();
        FirstRange first = data.firstRange(blob);
        ReadSession session;
        if (first != null) {
            session =
                    new ReadSession(HandleTokens.newHandle(), blob, c, first.objectLength, first.eTag, first.metadata);
        } else {
            BlobProperties props = c.blob(blob).getProperties();
            session = new ReadSession(
                    HandleTokens.newHandle(),
                    blob,
                    c,
                    props.getBlobSize(),
                    props.getETag(),
                    props.getMetadata() == null
                            ? Collections.<String, String>emptyMap()
                            : Collections.unmodifiableMap(new HashMap<>(props.getMetadata())));
        }
        sessions.addReader(session);
        if (first != null) {
            try {
                sessions.readAhead(session, data).seed(first);
            } catch (RuntimeException e) {
                first.abandon(); // the session ended meanwhile: its reads answer that
            }
        }
        return session.handle();
    }

    /** A read that also answers the metadata: all of it, or only the properties {@code names} lists. */
    CRObjectByNameFnValue readWithMetadata(String target, byte[] buffer, long offset, long size, String[] names) {
        ReadResult r = read(target, buffer, size, offset, true);
        Set<String> wanted = null;
        if (names != null && names.length > 0) {
            wanted = new HashSet<>(Arrays.asList(names));
            wanted.remove(null);
        }
        CErrorValue success = new CErrorValue(ERRORID.SUCCESS);
        return new CRObjectByNameFnValue(success, MetadataCodec.fromStored(r.storedMetadata, wanted), r.bytes);
    }

    ReadResult read(String target, byte[] buffer, long size, long offset, boolean wantMetadata) {
        if (buffer == null || size < 0 || offset < 0) {
            throw StorageFailure.of(ERRORID.INVALID_ARGUMENT);
        }
        if (size > buffer.length) {
            throw StorageFailure.of(ERRORID.SIZE_MISMATCH);
        }
        int wanted = (int) size;
        StorageConnection c = conn();
        Session session = sessionOf(require(target));
        if (session != null) {
            if (!(session instanceof ReadSession)) {
                throw StorageFailure.of(ERRORID.INVALID_HANDLE); // uncommitted data cannot be read back
            }
            ReadSession rs = (ReadSession) session;
            if (offset > rs.length()) {
                throw StorageFailure.of(ERRORID.OFFSET_OUT_OF_RANGE);
            }
            int count = (int) Math.min(wanted, rs.length() - offset);
            long got = count == 0 ? 0 : readAhead(rs).read(buffer, offset, count, rs.eTag());
            return new ReadResult(got, rs.storedMetadata());
        }
        BlockBlobClient blob = c.blob(objectName(target));
        if (wanted > 0) {
            try {
                DataPath.RangeInfo r = dataPath().readSpan(objectName(target), buffer, offset, wanted, null);
                return new ReadResult(r.bytes, r.metadata);
            } catch (BlobStorageException e) {
                if (e.getStatusCode() != 416) {
                    throw e;
                }
                // The range starts at or after the end: at the end is an empty read, after it an error.
            }
        }
        BlobProperties props = blob.getProperties();
        if (offset > props.getBlobSize()) {
            throw StorageFailure.of(ERRORID.OFFSET_OUT_OF_RANGE);
        }
        return new ReadResult(0, wantMetadata ? props.getMetadata() : Collections.<String, String>emptyMap());
    }

    private ReadAhead readAhead(ReadSession rs) {
        return sessions.readAhead(rs, dataPath());
    }

    /** The metadata as stored: what a write session will commit, what a read session opened, or what is there now. */
    Map<String, String> storedMetadataOf(String target) {
        StorageConnection c = conn();
        Session session = sessionOf(require(target));
        if (session instanceof WriteSession) {
            return ((WriteSession) session).storedMetadata();
        }
        if (session instanceof ReadSession) {
            return ((ReadSession) session).storedMetadata();
        }
        return c.blob(objectName(target)).getProperties().getMetadata();
    }

    /** Whether the committed object exists; a write session's object does not until its close. */
    boolean exists(String target) {
        StorageConnection c = conn();
        return Boolean.TRUE.equals(c.blob(objectName(target)).exists());
    }
}
