package com.kq.AzureLibrary;

import com.azure.core.http.rest.Response;
import com.azure.core.util.Context;
import com.azure.storage.blob.BlobContainerClient;
import com.azure.storage.blob.models.BlobContainerItem;
import com.azure.storage.blob.models.BlobErrorCode;
import com.azure.storage.blob.models.BlobItem;
import com.azure.storage.blob.models.BlobListDetails;
import com.azure.storage.blob.models.BlobProperties;
import com.azure.storage.blob.models.BlobRequestConditions;
import com.azure.storage.blob.models.BlobStorageException;
import com.azure.storage.blob.models.DeleteSnapshotsOptionType;
import com.azure.storage.blob.models.ListBlobsOptions;
import com.azure.storage.blob.models.StorageAccountInfo;
import com.azure.storage.blob.specialized.BlockBlobClient;
import com.kq.KQCloudPluginInterface.CErrorValue;
import com.kq.KQCloudPluginInterface.ERRORID;
import com.kq.plugin.model.CArrayOfString;
import com.kq.plugin.model.CInt;
import com.kq.plugin.model.CString;

import java.net.URI;
import java.time.Instant;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashSet;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Objects;
import java.util.Set;
import java.util.TreeMap;
import java.util.concurrent.ConcurrentHashMap;
import java.util.function.Function;

/**
 * The Java half of the storage plug-in: keeps a backup application's objects as block blobs in one Azure Blob
 * Storage container. The native plug-in makes one instance per plug-in instance and calls it from any number of
 * host threads at once.
 *
 * <p>Contract with the caller: no method throws. Every method answers with its result object whose
 * {@code errorValue} holds {@link ERRORID#SUCCESS} or the failure; {@link #GetObjectActualSize(long, long)}, which
 * has no error value, cannot fail. Bad input (null strings or arrays, negative sizes, a size beyond its array) is
 * refused with {@link ERRORID#INVALID_ARGUMENT} or {@link ERRORID#SIZE_MISMATCH} before anything is sent.
 *
 * <p>Objects and handles. An object is a block blob named by the object name. A handle is an opaque token
 * ({@value #HANDLE_PREFIX}...) for an open session, valid until {@link #CloseObject(String)} or
 * {@link #AzureDeInit()}. {@link #CreateObject(String)} and {@link #CreateCachedObject(String)} open a write
 * session: its data is staged as uncommitted blocks and {@code CloseObject} commits them with the session's
 * metadata, so nothing of the object is visible before that. {@link #OpenObject(String)} opens a read session
 * serving ranged reads of the object as it was when opened. The one-shot writes ({@code WriteObject} with
 * metadata, {@code UpdateObject}) upload a whole blob at once and answer with the object's name as its handle:
 * wherever a handle is taken, the name of a committed object does as well. The module's README gives every
 * method's meaning.
 */
public class AzureStorageLibrary implements StorageLibrary {
    /** Session handles start with this; a string that does and names no open session is a bad handle. */
    static final String HANDLE_PREFIX = HandleTokens.PREFIX;
    /** Azure's limit on blob names, in characters. */
    static final int MAX_NAME_LENGTH = 1024;
    static final int MAX_NAME_SEGMENTS = 254;
    /** What a general-purpose storage account holds at most by default; the base of the "remaining" figure. */
    static final long ACCOUNT_CAPACITY_BYTES = 5L << 50;
    static final String OBJECT_FLAG_PROPERTY = "objFlag";
    static final String JOB_INFO_KEY = "kqjobinfo";
    static final String JOB_TIME_KEY = "kqjobtime";
    private static final int METADATA_UPDATE_ATTEMPTS = 5;
    private static final System.Logger LOG = System.getLogger("com.kq.AzureLibrary");

    private final String installPath;
    private volatile StorageConnection connection;
    /** The data requests and worker threads of {@link #connection}; replaced with it. */
    private volatile DataPath data;
    private final ConcurrentHashMap<String, Session> sessions = new ConcurrentHashMap<>();
    /** The read-ahead of each read session that has read. */
    private final ConcurrentHashMap<String, ReadAhead> readers = new ConcurrentHashMap<>();
    /** Closed handles, still told apart from object names for a while. */
    private final HandleTokens retired = new HandleTokens();
    /** The open write session of each object name: two writers of one object would race at the commit. */
    private final ConcurrentHashMap<String, WriteSession> writers = new ConcurrentHashMap<>();

    public AzureStorageLibrary(String installPath) {
        this.installPath = installPath == null ? "" : installPath;
    }

    // ------------------------------------------------------------------ life cycle

    /**
     * Reads the configuration (see {@link StorageConfig}) and builds the clients; no request is sent, so an
     * unreachable service shows at the first call that needs it. Initialising again replaces the configuration
     * and drops every open session (uncommitted data is discarded). The install path is only recorded.
     */
    public CErrorValue AzureInit(String configuration, String installPath) {
        return guard("AzureInit", null, AzureStorageLibrary::error, () -> {
            StorageConfig config;
            try {
                config = StorageConfig.parse(configuration);
            } catch (StorageFailure f) {
                throw f.id == ERRORID.INVALID_ARGUMENT ? f : StorageFailure.of(ERRORID.INVALID_CONNECTION_STRING);
            }
            StorageConnection fresh;
            try {
                fresh = StorageConnection.open(config);
            } catch (IllegalArgumentException | NullPointerException e) {
                // The SDK's verdict on the connection string; its message may quote the string, so it is dropped.
                throw StorageFailure.of(ERRORID.INVALID_CONNECTION_STRING);
            }
            DataPath freshData;
            try {
                freshData = new DataPath(fresh);
            } catch (RuntimeException | Error e) {
                fresh.close();
                throw e;
            }
            swap(fresh, freshData);
            LOG.log(System.Logger.Level.DEBUG, "Azure library initialised: account {0}, container {1}{2}",
                    fresh.accountUrl(), config.containerName, config.developmentStore ? " (development store)" : "");
            return success();
        });
    }

    /** Drops every session (uncommitted data is discarded) and the clients. Calls after it fail with NOT_INITIALIZED. */
    public CErrorValue AzureDeInit() {
        return guard("AzureDeInit", null, AzureStorageLibrary::error, () -> {
            swap(null, null);
            return success();
        });
    }

    /**
     * Puts new clients in place and retires the old ones: open sessions are dropped (their uploads cancelled,
     * nothing committed), and this returns only once the old workers have ended, so a host may unload the
     * library right after.
     */
    private void swap(StorageConnection fresh, DataPath freshData) {
        StorageConnection old;
        DataPath oldData;
        List<Session> dropped;
        synchronized (this) {
            old = connection;
            oldData = data;
            connection = fresh;
            data = freshData;
            dropped = new ArrayList<>(sessions.values());
            sessions.clear();
            writers.clear();
        }
        for (ReadAhead ra : readers.values()) {
            ra.close();
        }
        readers.clear();
        for (Session s : dropped) {
            retired.retire(s.handle());
            if (s instanceof WriteSession) {
                ((WriteSession) s).abort();
            }
        }
        if (oldData != null) {
            oldData.close();
        }
        if (old != null) {
            old.close();
        }
    }

    // ------------------------------------------------------------------ handles

    /** Opens a write session for the object; HANDLE_IN_USE while another write session of the same name is open. */
    public CCreateFnValue CreateObject(String name) {
        return guard("CreateObject", name, id -> new CCreateFnValue(error(id), ""),
                () -> new CCreateFnValue(success(), openWriteSession(conn(), objectName(name)).handle()));
    }

    /** The same write session as {@link #CreateObject(String)}: its data stays in uncommitted blocks until the close. */
    public CCreateFnValue CreateCachedObject(String name) {
        return guard("CreateCachedObject", name, id -> new CCreateFnValue(error(id), ""),
                () -> new CCreateFnValue(success(), openWriteSession(conn(), objectName(name)).handle()));
    }

    /** Opens a read session on a committed object (OBJECT_NOT_FOUND when there is none). */
    public CCreateFnValue OpenObject(String name) {
        return guard("OpenObject", name, id -> new CCreateFnValue(error(id), ""), () -> {
            StorageConnection c = conn();
            String blob = objectName(name);
            BlobProperties props = c.blob(blob).getProperties();
            ReadSession session = new ReadSession(newHandle(), blob, c, props.getBlobSize(), props.getETag(),
                    Map.copyOf(props.getMetadata() == null ? Map.of() : props.getMetadata()));
            sessions.put(session.handle(), session);
            return new CCreateFnValue(success(), session.handle());
        });
    }

    /**
     * The location of a container ("primary": writes always land in the account's primary location). The name is
     * a container name; empty means the configured container. CONTAINER_NOT_FOUND when it does not exist.
     */
    public CCreateFnValue GetBucketRegion(String containerName) {
        return guard("GetBucketRegion", containerName, id -> new CCreateFnValue(error(id), ""), () -> {
            StorageConnection c = conn();
            BlobContainerClient target = containerClient(c, require(containerName));
            if (!target.exists()) {
                throw StorageFailure.of(ERRORID.CONTAINER_NOT_FOUND);
            }
            return new CCreateFnValue(success(), "primary");
        });
    }

    /**
     * Ends a session. A write session commits its data and metadata: the object appears complete, or (on any
     * failure, reported here) not at all; either way the handle is gone. A read session just ends.
     */
    public CErrorValue CloseObject(String handle) {
        return guard("CloseObject", handle, AzureStorageLibrary::error, () -> {
            Session session = takeSession(handle);
            if (session instanceof WriteSession) {
                WriteSession ws = (WriteSession) session;
                writers.remove(ws.blobName(), ws);
                ws.commit(null);
            }
            return success();
        });
    }

    // ------------------------------------------------------------------ writes

    /**
     * With a write-session handle, appends the bytes to the session. With an object name, uploads the bytes as
     * the whole object (replacing any earlier one; no metadata).
     */
    public CErrorValue WriteObject(String target, byte[] data, long size) {
        return guard("WriteObject", target, AzureStorageLibrary::error, () -> {
            int length = dataLength(data, size);
            Session session = sessionOf(require(target));
            if (session != null) {
                writeSession(session).append(data, length);
            } else {
                uploadWhole(conn(), objectName(target), data, length, Map.of(), null);
            }
            return success();
        });
    }

    /**
     * With a write-session handle, appends the bytes and adds the metadata to what the close commits; answers the
     * same handle. With an object name, uploads the whole object with the metadata and answers its name.
     */
    public CWObjectHandleFnValue WriteObject(String target, byte[] data, long size, CPluginMetaData[] metadata) {
        return guard("WriteObject", target, id -> new CWObjectHandleFnValue(error(id), ""),
                () -> new CWObjectHandleFnValue(success(), writeWithMetadata(target, data, size, metadata, null)));
    }

    /** As the form without the flag; the flag is kept as the property "objFlag" (unsigned decimal). */
    public CWObjectHandleFnValue WriteObject(String target, byte[] data, long size, CPluginMetaData[] metadata,
                                             long objFlag) {
        return guard("WriteObject", target, id -> new CWObjectHandleFnValue(error(id), ""),
                () -> new CWObjectHandleFnValue(success(), writeWithMetadata(target, data, size, metadata, objFlag)));
    }

    /**
     * Writes into a cached (not yet committed) object: with a write-session handle, or with the name of an object
     * that has an open write session, appends to that session; with any other name opens a new write session for
     * it first. Answers the session's handle; the object appears at {@code CloseObject}.
     */
    public CWObjectHandleFnValue WriteCachedObject(String target, byte[] data, long size, CPluginMetaData[] metadata) {
        return guard("WriteCachedObject", target, id -> new CWObjectHandleFnValue(error(id), ""), () -> {
            int length = dataLength(data, size);
            Map<String, String> stored = MetadataCodec.toStored(metadata);
            Session session = sessionOf(require(target));
            WriteSession ws;
            if (session != null) {
                ws = writeSession(session);
            } else {
                StorageConnection c = conn();
                String name = objectName(target);
                ws = writers.get(name);
                if (ws == null) {
                    ws = openWriteSession(c, name);
                }
            }
            ws.putMetadata(stored);
            ws.append(data, length);
            return new CWObjectHandleFnValue(success(), ws.handle());
        });
    }

    /**
     * Replaces the whole content and metadata of an existing object (OBJECT_NOT_FOUND when there is none).
     * {@code handle} is the object's handle (its name, or an open session's handle); {@code name}, when not
     * empty, must be the object's name (INVALID_HANDLE otherwise), which catches handles mixed up by the caller.
     * Answers the object's name.
     */
    public CCreateFnValue UpdateObject(String handle, String name, byte[] data, long size, CPluginMetaData[] metadata) {
        return guard("UpdateObject", handle, id -> new CCreateFnValue(error(id), ""),
                () -> new CCreateFnValue(success(), update(handle, name, data, size, metadata, null)));
    }

    /** As the form without the flag; the flag is kept as the property "objFlag". */
    public CCreateFnValue UpdateObject(String handle, String name, byte[] data, long size, CPluginMetaData[] metadata,
                                       long objFlag) {
        return guard("UpdateObject", handle, id -> new CCreateFnValue(error(id), ""),
                () -> new CCreateFnValue(success(), update(handle, name, data, size, metadata, objFlag)));
    }

    /**
     * Appends bytes and metadata to the cached object of a write session. {@code name}, when not empty, must be
     * the session's object name (INVALID_HANDLE otherwise).
     */
    public CErrorValue UpdateCachedObjectByHandle(String handle, String name, byte[] data, long size,
                                                  CPluginMetaData[] metadata) {
        return guard("UpdateCachedObjectByHandle", handle, AzureStorageLibrary::error, () -> {
            int length = dataLength(data, size);
            Map<String, String> stored = MetadataCodec.toStored(metadata);
            WriteSession ws = writeSession(sessionOf(require(handle)));
            if (!require(name).isEmpty() && !name.equals(ws.blobName())) {
                throw StorageFailure.of(ERRORID.INVALID_HANDLE);
            }
            ws.putMetadata(stored);
            ws.append(data, length);
            return success();
        });
    }

    /** Appends bytes and metadata to the open write session of the named object (OBJECT_NOT_FOUND if none). */
    public CErrorValue UpdateCachedObjectByName(String name, byte[] data, long size, CPluginMetaData[] metadata) {
        return guard("UpdateCachedObjectByName", name, AzureStorageLibrary::error, () -> {
            int length = dataLength(data, size);
            Map<String, String> stored = MetadataCodec.toStored(metadata);
            conn();
            WriteSession ws = writers.get(plainName(name));
            if (ws == null) {
                throw StorageFailure.of(ERRORID.OBJECT_NOT_FOUND);
            }
            ws.putMetadata(stored);
            ws.append(data, length);
            return success();
        });
    }

    // ------------------------------------------------------------------ reads

    /**
     * Reads up to {@code size} bytes from {@code offset} into the start of {@code buffer}; {@code sizeRead} says
     * how many (fewer at the end of the object, 0 at its end). An offset beyond the end is OFFSET_OUT_OF_RANGE.
     * {@code target} is a read-session handle or an object name.
     */
    public CReadObjectFnValue ReadObject(String target, byte[] buffer, long size, long offset) {
        return guard("ReadObject", target, id -> new CReadObjectFnValue(error(id), 0L), () -> {
            ReadResult r = read(target, buffer, size, offset, false);
            return new CReadObjectFnValue(success(), r.bytes);
        });
    }

    /**
     * As {@link #ReadObject} (offset first, size second) and also answers the object's metadata: all of it, or
     * with {@code names} only the properties named there.
     */
    public CRObjectByNameFnValue ReadObjectByHandle(String handle, byte[] buffer, long offset, long size,
                                                    String[] names) {
        return guard("ReadObjectByHandle", handle, id -> new CRObjectByNameFnValue(error(id), null, 0L),
                () -> readWithMetadata(handle, buffer, offset, size, names));
    }

    /** The same as {@link #ReadObjectByHandle}: a name and a handle are both accepted. */
    public CRObjectByNameFnValue ReadObjectByName(String name, byte[] buffer, long offset, long size, String[] names) {
        return guard("ReadObjectByName", name, id -> new CRObjectByNameFnValue(error(id), null, 0L),
                () -> readWithMetadata(name, buffer, offset, size, names));
    }

    // ------------------------------------------------------------------ metadata, queries, deletion

    /**
     * Sets one property. On a write session it joins what the close commits; on a committed object (by name or
     * read handle) the stored metadata is updated in place, other properties kept.
     */
    public CErrorValue SetObjectMetaData(String target, String property, String value) {
        return guard("SetObjectMetaData", target, AzureStorageLibrary::error, () -> {
            if (Rehydration.PROPERTY.equals(property)) {
                Rehydration.request(conn(), objectName(require(target)), value);
                return success();
            }
            Map.Entry<String, String> entry = MetadataCodec.toStored(require(property), require(value));
            Session session = sessionOf(require(target));
            if (session instanceof WriteSession) {
                ((WriteSession) session).putMetadata(Map.of(entry.getKey(), entry.getValue()));
                return success();
            }
            StorageConnection c = conn();
            String blob = session != null ? session.blobName() : objectName(target);
            updateStoredMetadata(c, blob, entry, session instanceof ReadSession ? (ReadSession) session : null);
            return success();
        });
    }

    /** All properties of an object (a write session answers what it will commit). */
    public CGObjectMetaDataFnValue GetObjectMetaData(String target) {
        return guard("GetObjectMetaData", target, id -> new CGObjectMetaDataFnValue(error(id), null),
                () -> new CGObjectMetaDataFnValue(success(), MetadataCodec.fromStored(storedMetadataOf(target), null)));
    }

    /** One property's value; METADATA_NOT_FOUND when the object has no such property. */
    public CGetObjectMetaData GetObjectMetaData(String target, String item) {
        return guard("GetObjectMetaData", target, id -> new CGetObjectMetaData(error(id), null), () -> {
            require(item);
            String value = MetadataCodec.decode(storedMetadataOf(target)).get(item);
            if (value == null) {
                throw StorageFailure.of(ERRORID.METADATA_NOT_FOUND);
            }
            return new CGetObjectMetaData(success(), value);
        });
    }

    /** Whether a committed object of that name (or of the handle's object) exists; a write session's is not yet. */
    public CIsObjectExistFnValue IsObjectExist(String target) {
        return guard("IsObjectExist", target, id -> new CIsObjectExistFnValue(error(id), false), () -> {
            StorageConnection c = conn();
            Session session = sessionOf(require(target));
            String blob = session != null ? session.blobName() : objectName(target);
            return new CIsObjectExistFnValue(success(), Boolean.TRUE.equals(c.blob(blob).exists()));
        });
    }

    /**
     * Whether objects can be stored under {@code path}, with names up to {@code extraLength} more characters
     * (0: the path is itself an object name). Checked locally against Azure's naming rules: at most 1024
     * characters and 254 segments in all, no control characters, backslashes or unpaired surrogates,
     * and an object name neither empty nor ending in '.' or '/'.
     */
    public CIsObjectExistFnValue IsObjectPathSupported(String path, int extraLength) {
        return guard("IsObjectPathSupported", path, id -> new CIsObjectExistFnValue(error(id), false), () -> {
            require(path);
            if (extraLength < 0) {
                throw StorageFailure.of(ERRORID.INVALID_ARGUMENT);
            }
            return new CIsObjectExistFnValue(success(), isSupportedName(path, extraLength));
        });
    }

    /**
     * The committed objects whose names start with {@code prefix} (empty: all), each with its metadata, keyed by
     * the full object name. CONTAINER_NOT_FOUND when the container does not exist.
     */
    public CRetGetSubMetaDataList GetObjectSubList(String prefix) {
        return guard("GetObjectSubList", prefix, id -> new CRetGetSubMetaDataList(error(id), null), () -> {
            StorageConnection c = conn();
            ListBlobsOptions options = new ListBlobsOptions()
                    .setDetails(new BlobListDetails().setRetrieveMetadata(true));
            if (!require(prefix).isEmpty()) {
                options.setPrefix(prefix);
            }
            List<CObjectSubListElement> out = new ArrayList<>();
            for (BlobItem item : c.container.listBlobs(options, null)) {
                if (Boolean.TRUE.equals(item.isPrefix()) || Boolean.TRUE.equals(item.isDeleted())) {
                    continue;
                }
                CPluginMetaData[] metadata = MetadataCodec.fromStored(item.getMetadata(), null);
                if (c.config.listLength) {
                    metadata = MetadataCodec.withLength(metadata, item.getProperties().getContentLength());
                }
                out.add(new CObjectSubListElement(item.getName(), metadata));
            }
            return new CRetGetSubMetaDataList(success(), out.toArray(new CObjectSubListElement[0]));
        });
    }

    /** Deletes a committed object (with its snapshots); OBJECT_NOT_FOUND when there is none. */
    public CErrorValue DeleteObjectByName(String name) {
        return guard("DeleteObjectByName", name, AzureStorageLibrary::error, () -> {
            StorageConnection c = conn();
            Session session = sessionOf(require(name));
            deleteBlob(c, session != null ? session.blobName() : objectName(name));
            return success();
        });
    }

    /**
     * Deletes what a handle stands for: a write session is discarded (nothing stored changes); a read session
     * ends and its object is deleted; the name of a committed object deletes that object.
     */
    public CErrorValue DeleteObjectByHandle(String handle) {
        return guard("DeleteObjectByHandle", handle, AzureStorageLibrary::error, () -> {
            deleteByHandle(handle);
            return success();
        });
    }

    /**
     * Deletes every handle's object as the one-handle form does, going on after a failure; answers the first
     * failure, or success. A null array is refused; an empty one does nothing.
     */
    public CErrorValue DeleteObjectByHandle(String[] handles) {
        return guard("DeleteObjectByHandle", null, AzureStorageLibrary::error, () -> {
            if (handles == null) {
                throw StorageFailure.of(ERRORID.INVALID_ARGUMENT);
            }
            ERRORID first = null;
            for (String handle : handles) {
                try {
                    deleteByHandle(handle);
                } catch (Throwable t) {
                    ERRORID id = ErrorMapper.classify(t);
                    logFailure("DeleteObjectByHandle", handle, id, t);
                    if (first == null) {
                        first = id;
                    }
                }
            }
            return first == null ? success() : error(first);
        });
    }

    /** Discards the open write session of the named object; OBJECT_NOT_FOUND when it has none. */
    public CErrorValue DeleteCachedObjectByName(String name) {
        return guard("DeleteCachedObjectByName", name, AzureStorageLibrary::error, () -> {
            conn();
            WriteSession ws = writers.remove(plainName(name));
            if (ws == null) {
                throw StorageFailure.of(ERRORID.OBJECT_NOT_FOUND);
            }
            sessions.remove(ws.handle(), ws);
            retired.retire(ws.handle());
            ws.abort();
            return success();
        });
    }

    /**
     * The bytes an object of {@code objectSize} bytes occupies in storage: blobs keep data as written (no
     * compression, no padding), so it is {@code objectSize} itself, passed through bit for bit. The first value
     * (what the caller measured on its side) does not change the answer.
     */
    public long GetObjectActualSize(long measuredSize, long objectSize) {
        return objectSize;
    }

    // ------------------------------------------------------------------ containers, regions, account

    /**
     * The object name under which object {@code name} of archive set {@code archiveSet} is stored:
     * "set/name" (backslashes become slashes, surplus slashes at the joint are dropped; an empty set gives the
     * name alone). INVALID_NAME when the result is not a usable object name.
     */
    public CString getStorageKey(String archiveSet, String name) {
        return guard("getStorageKey", archiveSet, id -> new CString(error(id), null), () -> {
            String set = trimSlashes(require(archiveSet).replace('\\', '/'), true);
            String object = trimSlashes(require(name).replace('\\', '/'), false);
            String key = set.isEmpty() ? object : set + "/" + object;
            if (!isSupportedName(key, 0)) {
                throw StorageFailure.of(ERRORID.INVALID_NAME);
            }
            return new CString(success(), key);
        });
    }

    /**
     * Reads the account key, SAS or client secret again from the file or environment variable the configuration
     * names and swaps the clients; open sessions go on with the new ones. The answer names the account, never the
     * secret. NOT_SUPPORTED when the secret stands in the configuration itself (nothing to re-read).
     */
    public CString updateStorageKey() {
        return guard("updateStorageKey", null, id -> new CString(error(id), null), () -> {
            StorageConnection c = conn();
            if (!c.config.hasSecretSource()) {
                throw StorageFailure.of(ERRORID.NOT_SUPPORTED);
            }
            c.rotate();
            dataPath().refreshClients();
            return new CString(success(), c.accountName());
        });
    }

    /** The configured container's name. */
    public CUniqueAccountValue GetContainerName() {
        return guard("GetContainerName", null, id -> new CUniqueAccountValue(error(id), null),
                () -> new CUniqueAccountValue(success(), conn().config.containerName));
    }

    /** Deletes the configured container with everything in it; the next write creates it again. */
    public CErrorValue DeleteContainer() {
        return guard("DeleteContainer", null, AzureStorageLibrary::error, () -> {
            conn().container.deleteWithResponse(null, null, Context.NONE);
            dataPath().containerGone();
            return success();
        });
    }

    /**
     * Records a backup job's six numbers on the container (metadata "kqjobinfo": the values in the order
     * received, comma-separated; "kqjobtime": when, UTC), replacing the previous job's. Creates the container if
     * needed.
     */
    public CErrorValue addJobInfo(long v1, long v2, long v3, long v4, long v5, long v6) {
        return guard("addJobInfo", null, AzureStorageLibrary::error, () -> {
            StorageConnection c = conn();
            String info = v1 + "," + v2 + "," + v3 + "," + v4 + "," + v5 + "," + v6;
            c.writingToContainer(() -> {
                Map<String, String> metadata = new TreeMap<>(c.container.getProperties().getMetadata());
                metadata.put(JOB_INFO_KEY, info);
                metadata.put(JOB_TIME_KEY, Instant.now().toString());
                c.container.setMetadata(metadata);
                return null;
            });
            return success();
        });
    }

    /** Success when the service answers and accepts the credentials (whether or not the container exists yet). */
    public CErrorValue CheckConnectivity() {
        return guard("CheckConnectivity", null, AzureStorageLibrary::error, () -> {
            SasCheck.probe(conn());
            return success();
        });
    }

    /** Bytes held by the committed objects of the container (0 when the container does not exist yet). */
    public CGetAccountSizeValue GetAllObjectsSize() {
        return guard("GetAllObjectsSize", null, id -> new CGetAccountSizeValue(error(id), 0L),
                () -> new CGetAccountSizeValue(success(), containerBytes(conn())));
    }

    /** The account's blob endpoint URL: unique across accounts, clouds and emulators, and free of secrets. */
    public CUniqueAccountValue GetUniqueAccountName() {
        return guard("GetUniqueAccountName", null, id -> new CUniqueAccountValue(error(id), null),
                () -> new CUniqueAccountValue(success(), conn().accountUrl()));
    }

    /** The storage account's name: the owner of the stored data. */
    public CUniqueAccountValue GetOwnerName() {
        return guard("GetOwnerName", null, id -> new CUniqueAccountValue(error(id), null),
                () -> new CUniqueAccountValue(success(), conn().accountName()));
    }

    /**
     * Whether two account designations mean the same account. Each may be empty (the configured account), a
     * connection string, an endpoint URL (as {@link #GetUniqueAccountName()} gives) or a bare account name; two
     * endpoints are compared whole, otherwise the account names are compared without regard to case.
     */
    public CIsObjectExistFnValue IsSameAccount(String first, String second) {
        return guard("IsSameAccount", null, id -> new CIsObjectExistFnValue(error(id), false), () -> {
            StorageConnection c = conn();
            String[] a = accountIdentity(c, require(first));
            String[] b = accountIdentity(c, require(second));
            boolean same = a[1] != null && b[1] != null ? a[1].equals(b[1]) : a[0].equalsIgnoreCase(b[0]);
            return new CIsObjectExistFnValue(success(), same);
        });
    }

    /** Every container of the account. */
    public KQListContainers GetListContainers() {
        return guard("GetListContainers", null, id -> new KQListContainers(error(id), null), () -> {
            List<KQAzureContainer> out = new ArrayList<>();
            for (BlobContainerItem item : conn().service.listBlobContainers()) {
                out.add(new KQAzureContainer(item.getName()));
            }
            return new KQListContainers(success(), out.toArray(new KQAzureContainer[0]));
        });
    }

    /**
     * The archive sets: the top-level folders ("set/..." object names) of the configured container.
     * CONTAINER_NOT_FOUND when the container does not exist.
     */
    public KQListContainers GetArchiveSet() {
        return guard("GetArchiveSet", null, id -> new KQListContainers(error(id), null), () -> {
            List<KQAzureContainer> out = new ArrayList<>();
            for (BlobItem item : conn().container.listBlobsByHierarchy("/", new ListBlobsOptions(), null)) {
                if (Boolean.TRUE.equals(item.isPrefix())) {
                    String name = item.getName();
                    out.add(new KQAzureContainer(name.endsWith("/") ? name.substring(0, name.length() - 1) : name));
                }
            }
            return new KQListContainers(success(), out.toArray(new KQAzureContainer[0]));
        });
    }

    /**
     * The account's storage locations: "primary", and "secondary" too when the account's replication keeps a
     * copy in a second region (GRS, RA-GRS, GZRS, RA-GZRS).
     */
    public KQListRegions GetRegions() {
        return guard("GetRegions", null, id -> new KQListRegions(error(id), null), () -> {
            StorageAccountInfo info = conn().service.getAccountInfo();
            String sku = info.getSkuName() == null ? "" : info.getSkuName().toString().toUpperCase(Locale.ROOT);
            boolean geo = sku.contains("GRS") || sku.contains("GZRS");
            return new KQListRegions(success(), geo ? new String[] {"primary", "secondary"} : new String[] {"primary"});
        });
    }

    /** Whether a container of that name exists and is reachable; a name Azure would refuse is simply not valid. */
    public CIsObjectExistFnValue IsValidContainer(String name) {
        return guard("IsValidContainer", name, id -> new CIsObjectExistFnValue(error(id), false), () -> {
            StorageConnection c = conn();
            if (!StorageConfig.isValidContainerName(require(name))) {
                return new CIsObjectExistFnValue(success(), false);
            }
            return new CIsObjectExistFnValue(success(), c.service.getBlobContainerClient(name).exists());
        });
    }

    /**
     * The account: identity = account name; type = replication and kind ("Standard_RAGRS/StorageV2"); display
     * name = "account/container"; e-mail = "" (storage accounts have none); used = bytes in the container;
     * remaining = the default account capacity (5 PiB) less that.
     */
    public CGetAccountInfoFnValue GetAccountInfo() {
        return guard("GetAccountInfo", null,
                id -> new CGetAccountInfoFnValue(error(id), null, null, null, null, 0L, 0L), () -> {
                    StorageConnection c = conn();
                    StorageAccountInfo info = c.service.getAccountInfo();
                    String type = info.getSkuName() + "/" + info.getAccountKind();
                    long used = containerBytes(c);
                    return new CGetAccountInfoFnValue(success(), c.accountName(), type,
                            c.accountName() + "/" + c.config.containerName, "", used,
                            Math.max(0L, ACCOUNT_CAPACITY_BYTES - used));
                });
    }

    /** The host name of the blob service the library talks to. */
    public CArrayOfString getServerNameList() {
        return guard("getServerNameList", null, id -> new CArrayOfString(error(id), null),
                () -> new CArrayOfString(success(), new String[] {conn().endpointHost()}));
    }

    /**
     * 1 when a backup can start: the service answers, the credentials are accepted, and the container exists
     * (it is created if missing). 0 with the reason otherwise.
     */
    public CInt canBackup() {
        return guard("canBackup", null, id -> new CInt(0, error(id)), () -> {
            SasCheck.prepareContainer(conn());
            return new CInt(1, success());
        });
    }

    // ------------------------------------------------------------------ internals

    private interface Body<R> {
        R run();
    }

    /** Every public method runs through here: nothing thrown inside gets out. */
    private <R> R guard(String operation, String subject, Function<ERRORID, R> onError, Body<R> body) {
        try {
            return body.run();
        } catch (Throwable t) {
            ERRORID id = ErrorMapper.classify(t);
            logFailure(operation, subject, id, t);
            try {
                return onError.apply(id);
            } catch (Throwable again) {
                return null; // out of memory even for the answer: the plug-in treats null as a failed call
            }
        }
    }

    private void logFailure(String operation, String subject, ERRORID id, Throwable t) {
        try {
            boolean unexpected = id == ERRORID.INTERNAL_ERROR || id == ERRORID.FAILURE;
            System.Logger.Level level = unexpected ? System.Logger.Level.WARNING : System.Logger.Level.DEBUG;
            if (!LOG.isLoggable(level)) {
                return;
            }
            String detail = t instanceof StorageFailure ? "" : " (" + t.getClass().getName() + statusOf(t) + ")";
            StorageConnection c = connection;
            String text = operation + (subject == null ? "" : " [" + subject + "]") + ": " + id + detail;
            LOG.log(level, c == null ? text : c.config.redact(text));
        } catch (Throwable ignored) {
            // logging must never turn an answer into an exception
        }
    }

    private static String statusOf(Throwable t) {
        if (!(t instanceof BlobStorageException)) {
            return "";
        }
        BlobStorageException e = (BlobStorageException) t;
        return " " + e.getStatusCode() + " " + e.getErrorCode();
    }

    private static CErrorValue success() {
        return new CErrorValue(ERRORID.SUCCESS);
    }

    private static CErrorValue error(ERRORID id) {
        return new CErrorValue(id);
    }

    private StorageConnection conn() {
        StorageConnection c = connection;
        if (c == null) {
            throw StorageFailure.of(ERRORID.NOT_INITIALIZED);
        }
        return c;
    }

    private DataPath dataPath() {
        DataPath d = data;
        if (d == null) {
            throw StorageFailure.of(ERRORID.NOT_INITIALIZED);
        }
        return d;
    }

    private static String require(String text) {
        if (text == null) {
            throw StorageFailure.of(ERRORID.INVALID_ARGUMENT);
        }
        return text;
    }

    private static int dataLength(byte[] data, long size) {
        if (size < 0) {
            throw StorageFailure.of(ERRORID.INVALID_ARGUMENT);
        }
        if (data == null) {
            if (size == 0) {
                return 0;
            }
            throw StorageFailure.of(ERRORID.INVALID_ARGUMENT);
        }
        if (size > data.length) {
            throw StorageFailure.of(ERRORID.SIZE_MISMATCH);
        }
        return (int) size;
    }

    private static String newHandle() {
        return HandleTokens.newHandle();
    }

    /**
     * The open session a handle names; null for any other string (an object name, whatever it looks like);
     * INVALID_HANDLE for a handle closed lately. A name equal to a live handle means that handle.
     */
    private Session sessionOf(String text) {
        conn();
        Session session = sessions.get(text);
        if (session == null && retired.isRetired(text)) {
            throw StorageFailure.of(ERRORID.INVALID_HANDLE);
        }
        return session;
    }

    private Session takeSession(String handle) {
        conn();
        Session session = sessions.remove(require(handle));
        if (session == null) {
            throw StorageFailure.of(ERRORID.INVALID_HANDLE);
        }
        retired.retire(handle);
        ReadAhead ra = readers.remove(handle);
        if (ra != null) {
            ra.close();
        }
        return session;
    }

    private static WriteSession writeSession(Session session) {
        if (session instanceof WriteSession) {
            return (WriteSession) session;
        }
        throw StorageFailure.of(ERRORID.INVALID_HANDLE);
    }

    /** The blob a string designates: an open session's object, or the string itself as a checked object name. */
    private String objectName(String text) {
        Session session = sessionOf(require(text));
        return session != null ? session.blobName() : plainName(text);
    }

    private static String plainName(String name) {
        require(name);
        if (!isSupportedName(name, 0)) {
            throw StorageFailure.of(ERRORID.INVALID_NAME);
        }
        return name;
    }

    static boolean isSupportedName(String path, int extraLength) {
        if ((long) path.length() + extraLength > MAX_NAME_LENGTH) {
            return false;
        }
        if (extraLength == 0 && (path.isEmpty() || path.endsWith(".") || path.endsWith("/"))) {
            return false;
        }
        int segments = 1;
        for (int i = 0; i < path.length(); i++) {
            char ch = path.charAt(i);
            if (ch < 0x20 || ch == 0x7f || ch == '\\') {
                return false;
            }
            if (Character.isHighSurrogate(ch)) {
                if (i + 1 >= path.length() || !Character.isLowSurrogate(path.charAt(i + 1))) {
                    return false;
                }
                i++;
            } else if (Character.isLowSurrogate(ch)) {
                return false;
            } else if (ch == '/') {
                segments++;
            }
        }
        return segments <= MAX_NAME_SEGMENTS;
    }

    private WriteSession openWriteSession(StorageConnection c, String blob) {
        WriteSession session = new WriteSession(newHandle(), blob, dataPath(), c.config.blockSize);
        if (writers.putIfAbsent(blob, session) != null) {
            throw StorageFailure.of(ERRORID.HANDLE_IN_USE);
        }
        sessions.put(session.handle(), session);
        return session;
    }

    private String writeWithMetadata(String target, byte[] data, long size, CPluginMetaData[] metadata, Long flag) {
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

    private String update(String handle, String name, byte[] data, long size, CPluginMetaData[] metadata, Long flag) {
        int length = dataLength(data, size);
        Map<String, String> stored = withFlag(MetadataCodec.toStored(metadata), flag);
        StorageConnection c = conn();
        String blob = objectName(handle);
        if (!require(name).isEmpty() && !name.equals(blob)) {
            throw StorageFailure.of(ERRORID.INVALID_HANDLE);
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
    private void uploadWhole(StorageConnection c, String blob, byte[] bytes, int length,
                             Map<String, String> stored, BlobRequestConditions conditions) {
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

    private static final class ReadResult {
        final long bytes;
        final Map<String, String> storedMetadata;

        ReadResult(long bytes, Map<String, String> storedMetadata) {
            this.bytes = bytes;
            this.storedMetadata = storedMetadata;
        }
    }

    private CRObjectByNameFnValue readWithMetadata(String target, byte[] buffer, long offset, long size,
                                                   String[] names) {
        ReadResult r = read(target, buffer, size, offset, true);
        Set<String> wanted = null;
        if (names != null && names.length > 0) {
            wanted = new HashSet<>(Arrays.asList(names));
            wanted.remove(null);
        }
        return new CRObjectByNameFnValue(success(), MetadataCodec.fromStored(r.storedMetadata, wanted), r.bytes);
    }

    private ReadResult read(String target, byte[] buffer, long size, long offset, boolean wantMetadata) {
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
            if (!sessions.containsKey(rs.handle())) {
                ReadAhead ra = readers.remove(rs.handle()); // closed while this read ran
                if (ra != null) {
                    ra.close();
                }
            }
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
        return new ReadResult(0, wantMetadata ? props.getMetadata() : Map.of());
    }

    private ReadAhead readAhead(ReadSession rs) {
        DataPath d = dataPath();
        return readers.computeIfAbsent(rs.handle(),
                h -> new ReadAhead(d, rs.blobName(), rs.length(), rs.eTag(), d.readAhead));
    }

    private Map<String, String> storedMetadataOf(String target) {
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

    /** Read, merge, write back under the ETag read; another writer in between makes it start over. */
    private void updateStoredMetadata(StorageConnection c, String blob, Map.Entry<String, String> entry,
                                      ReadSession via) {
        BlockBlobClient client = c.blob(blob);
        for (int attempt = 1; ; attempt++) {
            BlobProperties props = client.getProperties();
            Map<String, String> metadata = new LinkedHashMap<>(props.getMetadata());
            metadata.put(entry.getKey(), entry.getValue());
            try {
                Response<Void> response = client.setMetadataWithResponse(metadata,
                        new BlobRequestConditions().setIfMatch(props.getETag()), null, Context.NONE);
                if (via != null) {
                    // The change is the session holder's own: let its reads go on against the new ETag.
                    String eTag = response.getHeaders().getValue(com.azure.core.http.HttpHeaderName.ETAG);
                    if (eTag != null && via.eTag().equals(props.getETag())) {
                        sessions.replace(via.handle(), via, new ReadSession(via.handle(), via.blobName(),
                                via.connection(), via.length(), eTag, Map.copyOf(metadata)));
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

    private void deleteByHandle(String handle) {
        StorageConnection c = conn();
        if (sessionOf(require(handle)) != null) {
            Session session = takeSession(handle);
            if (session instanceof WriteSession) {
                WriteSession ws = (WriteSession) session;
                writers.remove(ws.blobName(), ws);
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

    private static BlobContainerClient containerClient(StorageConnection c, String name) {
        if (name.isEmpty()) {
            return c.container;
        }
        if (!StorageConfig.isValidContainerName(name)) {
            throw StorageFailure.of(ERRORID.INVALID_NAME);
        }
        return c.service.getBlobContainerClient(name);
    }

    private static long containerBytes(StorageConnection c) {
        long total = 0;
        try {
            for (BlobItem item : c.container.listBlobs()) {
                if (item.getProperties() != null && item.getProperties().getContentLength() != null) {
                    total += item.getProperties().getContentLength();
                }
            }
        } catch (BlobStorageException e) {
            if (!BlobErrorCode.CONTAINER_NOT_FOUND.equals(e.getErrorCode())) {
                throw e;
            }
            return 0; // nothing stored yet
        }
        return total;
    }

    private static String trimSlashes(String text, boolean trailingToo) {
        int start = 0;
        int end = text.length();
        while (start < end && text.charAt(start) == '/') {
            start++;
        }
        while (trailingToo && end > start && text.charAt(end - 1) == '/') {
            end--;
        }
        return text.substring(start, end);
    }

    /** {account name, normalised endpoint or null} of one designation (see {@link #IsSameAccount}). */
    private static String[] accountIdentity(StorageConnection c, String text) {
        String trimmed = text.trim();
        if (trimmed.isEmpty()) {
            return new String[] {c.accountName(), normaliseUrl(c.accountUrl())};
        }
        String url = null;
        if (trimmed.contains("=")) {
            StorageConfig config;
            try {
                config = StorageConfig.parse(trimmed);
                url = c.accountUrlOf(config);
            } catch (RuntimeException e) {
                throw StorageFailure.of(ERRORID.INVALID_CONNECTION_STRING);
            }
        } else if (trimmed.regionMatches(true, 0, "http://", 0, 7)
                || trimmed.regionMatches(true, 0, "https://", 0, 8)) {
            url = trimmed;
        }
        if (url == null) {
            return new String[] {trimmed, null};
        }
        String normalised = normaliseUrl(url);
        return new String[] {accountNameOfUrl(normalised), normalised};
    }

    private static String normaliseUrl(String url) {
        String u = url;
        int q = u.indexOf('?');
        if (q >= 0) {
            u = u.substring(0, q);
        }
        while (u.endsWith("/")) {
            u = u.substring(0, u.length() - 1);
        }
        return u.toLowerCase(Locale.ROOT);
    }

    /** The account name inside an endpoint: the first host label, or the first path segment for IP-style URLs. */
    private static String accountNameOfUrl(String url) {
        try {
            URI uri = URI.create(url);
            String host = uri.getHost() == null ? "" : uri.getHost();
            boolean ipStyle = host.equals("localhost") || host.matches("[0-9.]+") || host.startsWith("[");
            if (ipStyle) {
                String path = uri.getPath() == null ? "" : uri.getPath();
                String[] parts = path.split("/");
                for (String part : parts) {
                    if (!part.isEmpty()) {
                        return part;
                    }
                }
                return "";
            }
            int dot = host.indexOf('.');
            return dot > 0 ? host.substring(0, dot) : host;
        } catch (IllegalArgumentException e) {
            throw StorageFailure.of(ERRORID.INVALID_ARGUMENT);
        }
    }

    /** Kept for the host's diagnostics; the library writes no files. */
    String installPath() {
        return installPath;
    }

    /** Open sessions, for tests and diagnostics. */
    int openSessionCount() {
        return sessions.size();
    }
}
