package com.kq.AzureLibrary;

import static com.kq.AzureLibrary.ObjectNames.plainName;
import static com.kq.AzureLibrary.ObjectNames.require;
import static com.kq.AzureLibrary.SessionTable.writeSession;

import com.azure.core.http.HttpHeaderName;
import com.azure.core.http.rest.Response;
import com.azure.core.util.Context;
import com.azure.storage.blob.models.BlobProperties;
import com.azure.storage.blob.models.BlobRequestConditions;
import com.azure.storage.blob.models.BlobStorageException;
import com.azure.storage.blob.models.DeleteSnapshotsOptionType;
import com.azure.storage.blob.specialized.BlockBlobClient;
import com.kq.KQCloudPluginInterface.ERRORID;
import java.util.Collections;
import java.util.HashMap;
import java.util.LinkedHashMap;
import java.util.Map;
import java.util.function.Supplier;

/**
 * Everything that changes stored objects: appends to write sessions, one-shot uploads and updates, metadata
 * changes in place, deletions. Each method checks its arguments before it sends anything, in an order the callers
 * see in the answers (bad data before a bad name, say): keep that order when changing one.
 */
final class ObjectWrites extends ObjectAccess {
    static final String OBJECT_FLAG_PROPERTY = "objFlag";
    private static final int METADATA_UPDATE_ATTEMPTS = 5;

    ObjectWrites(SessionTable sessions, Supplier<StorageConnection> connection, Supplier<DataPath> data) {
        super(sessions, connection, data);
    }

    /**
     * The bytes of a write: a size beyond the array is SIZE_MISMATCH, never a partial write. The plug-in hands a
     * null array when it could not make one: for a size an array can hold (its low 32 bits, as the plug-in takes
     * them, between 1 and 2^31 - 1) that was the heap running out, and the answer says so.
     */
    static int dataLength(byte[] data, long size) {
        if (size < 0) {
            throw StorageFailure.of(ERRORID.INVALID_ARGUMENT);
        }
        if (data == null) {
            if (size == 0) {
                return 0;
            }
            long arrayLength = size & 0xFFFFFFFFL;
            throw StorageFailure.of(
                    arrayLength > 0 && arrayLength <= Integer.MAX_VALUE
                            ? ERRORID.OUT_OF_MEMORY
                            : ERRORID.INVALID_ARGUMENT);
        }
        if (size > data.length) {
            throw StorageFailure.of(ERRORID.SIZE_MISMATCH);
        }
        return (int) size;
    }

    /** Opens a write session for the object a name (or a handle) designates; its handle. */
    String create(String name) {
        StorageConnection c = conn();
        return openWriteSession(c, objectName(name)).handle();
    }

    private WriteSession openWriteSession(StorageConnection c, String blob) {
        return sessions.addWriter(new WriteSession(HandleTokens.newHandle(), blob, dataPath(), c.config.blockSize));
    }

    /** Appends to a write session, or uploads the bytes as the whole object (no metadata). */
    void write(String target, byte[] data, long size) {
        int length = dataLength(data, size);
        Session session = sessionOf(require(target));
        if (session != null) {
            writeSession(session).append(data, length);
        } else {
            uploadWhole(conn(), objectName(target), data, length, Collections.<String, String>emptyMap(), null);
        }
    }

    String writeWithMetadata(String target, byte[] data, long size, CPluginMetaData[] metadata, Long flag) {
        int length = dataLength(data, size);
        Map<String, String> stored = withFlag(MetadataCodec.toStored(metadata), flag);
        Session session = sessionOf(require(target));
        if (session != null) {
            WriteSession ws = writeSession(session);
            ws.putMetadata(stored);
            ws.append(data, length);
            return ws.handle();
        }
        String blob = objectName(target);
        uploadWhole(conn(), blob, data, length, stored, null);
        return blob;
    }

    /** Appends to the session a handle names or the open one of a name, opening one for the name if needed. */
    String writeCached(String target, byte[] data, long size, CPluginMetaData[] metadata) {
        int length = dataLength(data, size);
        Map<String, String> stored = MetadataCodec.toStored(metadata);
        Session session = sessionOf(require(target));
        WriteSession ws;
        if (session != null) {
            ws = writeSession(session);
        } else {
            StorageConnection c = conn();
            String name = objectName(target);
            ws = sessions.writerOf(name);
            if (ws == null) {
                ws = openWriteSession(c, name);
            }
        }
        ws.putMetadata(stored);
        ws.append(data, length);
        return ws.handle();
    }

    /** Appends to the write session of a handle; a non-empty {@code name} must be its object's. */
    void appendByHandle(String handle, String name, byte[] data, long size, CPluginMetaData[] metadata) {
        int length = dataLength(data, size);
        Map<String, String> stored = MetadataCodec.toStored(metadata);
        WriteSession ws = writeSession(sessionOf(require(handle)));
        if (!require(name).isEmpty() && !name.equals(ws.blobName())) {
            throw StorageFailure.of(ERRORID.INVALID_HANDLE);
        }
        ws.putMetadata(stored);
        ws.append(data, length);
    }

    /** Appends to the open write session of a name; OBJECT_NOT_FOUND when it has none. */
    void appendByName(String name, byte[] data, long size, CPluginMetaData[] metadata) {
        int length = dataLength(data, size);
        Map<String, String> stored = MetadataCodec.toStored(metadata);
        conn();
        WriteSession ws = sessions.writerOf(plainName(name));
        if (ws == null) {
            throw StorageFailure.of(ERRORID.OBJECT_NOT_FOUND);
        }
        ws.putMetadata(stored);
        ws.append(data, length);
    }

    String update(String handle, String name, byte[] data, long size, CPluginMetaData[] metadata, Long flag) {
        int length = dataLength(data, size);
        Map<String, String> stored = withFlag(MetadataCodec.toStored(metadata), flag);
        StorageConnection c = conn();
        String blob = objectName(handle);
        if (!require(name).isEmpty() && !name.equals(blob)) {
            throw StorageFailure.of(ERRORID.INVALID_HANDLE);
        }
        if (length > c.config.blockSize) {
            requireExisting(c, blob);
        }
        try {
            // "If-Match: *" makes the upload fail unless the object already exists: an update creates nothing.
            uploadWhole(c, blob, data, length, stored, new BlobRequestConditions().setIfMatch("*"));
        } catch (BlobStorageException e) {
            if (e.getStatusCode() == 412) {
                throw StorageFailure.of(ERRORID.OBJECT_NOT_FOUND);
            }
            throw e;
        } catch (StorageFailure f) {
            throw f.id == ERRORID.PRECONDITION_FAILED ? StorageFailure.of(ERRORID.OBJECT_NOT_FOUND) : f;
        }
        return blob;
    }

    /**
     * An update in blocks would stage every block before its conditional commit could refuse it, so a missing
     * object is found out first, with one small request; an update of one block is a single conditional request
     * and needs none. Only "not there" is decided here: any other answer (a credential that may write but not
     * read, say) is left to the upload, which answers as it always has.
     */
    private static void requireExisting(StorageConnection c, String blob) {
        try {
            c.blob(blob).getProperties();
        } catch (BlobStorageException e) {
            if (e.getStatusCode() == 404) {
                throw StorageFailure.of(ERRORID.OBJECT_NOT_FOUND);
            }
        }
    }

    private static Map<String, String> withFlag(Map<String, String> stored, Long flag) {
        if (flag != null) {
            Map.Entry<String, String> entry = MetadataCodec.toStored(OBJECT_FLAG_PROPERTY, Long.toUnsignedString(flag));
            stored.put(entry.getKey(), entry.getValue());
        }
        return stored;
    }

    /**
     * Uploads a whole object from the caller's array (used only until this returns): one checked request when it
     * fits one block, otherwise the write-behind path's parallel blocks and one commit.
     */
    private void uploadWhole(
            StorageConnection c,
            String blob,
            byte[] bytes,
            int length,
            Map<String, String> stored,
            BlobRequestConditions conditions) {
        DataPath d = dataPath();
        if (length <= c.config.blockSize) {
            d.upload(blob, bytes == null ? new byte[0] : bytes, 0, length, new LinkedHashMap<>(stored), conditions);
            return;
        }
        WriteSession whole = new WriteSession("", blob, d, c.config.blockSize);
        try {
            whole.putMetadata(stored);
            whole.append(bytes, length);
            whole.commit(conditions);
        } finally {
            whole.abort(); // gives back what a failure left; nothing after a commit
        }
    }

    /**
     * Sets one stored property: on a write session it joins what the close commits; on a committed object it is
     * merged into the stored metadata.
     */
    void setProperty(String target, Map.Entry<String, String> entry) {
        Session session = sessionOf(require(target));
        if (session instanceof WriteSession) {
            ((WriteSession) session).putMetadata(Collections.singletonMap(entry.getKey(), entry.getValue()));
            return;
        }
        StorageConnection c = conn();
        String blob = session != null ? session.blobName() : objectName(target);
        updateStoredMetadata(c, blob, entry, session instanceof ReadSession ? (ReadSession) session : null);
    }

    /** Read, merge, write back under the ETag read; another writer in between makes it start over. */
    private void updateStoredMetadata(
            StorageConnection c, String blob, Map.Entry<String, String> entry, ReadSession via) {
        BlockBlobClient client = c.blob(blob);
        for (int attempt = 1; ; attempt++) {
            BlobProperties props = client.getProperties();
            Map<String, String> metadata = new LinkedHashMap<>(props.getMetadata());
            metadata.put(entry.getKey(), entry.getValue());
            try {
                Response<Void> response = client.setMetadataWithResponse(
                        metadata, new BlobRequestConditions().setIfMatch(props.getETag()), null, Context.NONE);
                if (via != null) {
                    // The change is the session holder's own: let its reads go on against the new ETag.
                    String eTag = response.getHeaders().getValue(HttpHeaderName.ETAG);
                    if (eTag != null && via.eTag().equals(props.getETag())) {
                        sessions.replaceReader(
                                via,
                                new ReadSession(
                                        via.handle(),
                                        via.blobName(),
                                        via.connection(),
                                        via.length(),
                                        eTag,
                                        Collections.unmodifiableMap(new HashMap<>(metadata))));
                    }
                }
                return;
            } catch (BlobStorageException e) {
                if (e.getStatusCode() != 412 || attempt >= METADATA_UPDATE_ATTEMPTS) {
                    throw e;
                }
            }
        }
    }

    /** Deletes the committed object (with its snapshots) a handle or name designates. */
    void deleteByName(String name) {
        StorageConnection c = conn();
        deleteBlob(c, objectName(name));
    }

    /**
     * A write session is discarded (nothing stored changes); a read session ends and its object is deleted; a
     * name deletes that object.
     */
    void deleteByHandle(String handle) {
        StorageConnection c = conn();
        if (sessionOf(require(handle)) != null) {
            Session session = sessions.take(handle);
            if (session instanceof WriteSession) {
                ((WriteSession) session).abort(); // its buffer and blocks under way go back, nothing is committed
                return;
            }
            deleteBlob(((ReadSession) session).connection(), session.blobName());
            return;
        }
        deleteBlob(c, plainName(handle));
    }

    private static void deleteBlob(StorageConnection c, String blob) {
        c.blob(blob).deleteWithResponse(DeleteSnapshotsOptionType.INCLUDE, null, null, Context.NONE);
    }
}
