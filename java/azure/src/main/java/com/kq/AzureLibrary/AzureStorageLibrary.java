package com.kq.AzureLibrary;

import static com.kq.AzureLibrary.ObjectNames.require;

import com.azure.core.util.Context;
import com.azure.storage.blob.models.BlobItem;
import com.azure.storage.blob.models.BlobListDetails;
import com.azure.storage.blob.models.BlobStorageException;
import com.azure.storage.blob.models.ListBlobsOptions;
import com.kq.KQCloudPluginInterface.CErrorValue;
import com.kq.KQCloudPluginInterface.ERRORID;
import com.kq.plugin.model.CArrayOfString;
import com.kq.plugin.model.CInt;
import com.kq.plugin.model.CString;
import java.time.Instant;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import java.util.function.Function;
import java.util.logging.Level;
import java.util.logging.Logger;

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

    static final String JOB_INFO_KEY = "kqjobinfo";
    static final String JOB_TIME_KEY = "kqjobtime";
    private static final Logger LOG = Logger.getLogger("com.kq.AzureLibrary");

    private volatile StorageConnection connection;
    /** The data requests and worker threads of {@link #connection}; replaced with it. */
    private volatile DataPath data;

    private final SessionTable sessions = new SessionTable(this::conn);
    private final ObjectReads reads = new ObjectReads(sessions, this::conn, this::dataPath);
    private final ObjectWrites writes = new ObjectWrites(sessions, this::conn, this::dataPath);

    /** The host's installation root is accepted for the entry class's one constructor; the library writes no files. */
    public AzureStorageLibrary(String installPath) {}

    // ------------------------------------------------------------------ life cycle

    /**
     * Reads the configuration (see {@link StorageConfig}) and builds the clients; no request is sent, so an
     * unreachable service shows at the first call that needs it. Initialising again replaces the configuration
     * and drops every open session (uncommitted data is discarded). The install path is not used: the library writes no files.
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
            LOG.log(Level.FINE, "Azure library initialised: account {0}, container {1}{2}", new Object[] {
                fresh.accountUrl(), config.containerName, config.developmentStore ? " (development store)" : ""
            });
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
            dropped = sessions.detachAll();
        }
        if (oldData != null) {
            oldData.stop(); // first: every request of the old clients ends, so no session below waits on one
        }
        sessions.discard(dropped);
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
        return guard(
                "CreateObject",
                name,
                id -> new CCreateFnValue(error(id), ""),
                () -> new CCreateFnValue(success(), writes.create(name)));
    }

    /** The same write session as {@link #CreateObject(String)}: its data stays in uncommitted blocks until the close. */
    public CCreateFnValue CreateCachedObject(String name) {
        return guard(
                "CreateCachedObject",
                name,
                id -> new CCreateFnValue(error(id), ""),
                () -> new CCreateFnValue(success(), writes.create(name)));
    }

    /** Opens a read session on a committed object (OBJECT_NOT_FOUND when there is none). */
    public CCreateFnValue OpenObject(String name) {
        return guard(
                "OpenObject",
                name,
                id -> new CCreateFnValue(error(id), ""),
                () -> new CCreateFnValue(success(), reads.open(name)));
    }

    /**
     * The location of a container ("primary": writes always land in the account's primary location). The name is
     * a container name; empty means the configured container. CONTAINER_NOT_FOUND when it does not exist.
     */
    public CCreateFnValue GetBucketRegion(String containerName) {
        return guard(
                "GetBucketRegion",
                containerName,
                id -> new CCreateFnValue(error(id), ""),
                () -> new CCreateFnValue(success(), AccountQueries.bucketRegion(conn(), require(containerName))));
    }

    /**
     * Ends a session. A write session commits its data and metadata: the object appears complete, or (on any
     * failure, reported here) not at all; either way the handle is gone. A read session just ends.
     */
    public CErrorValue CloseObject(String handle) {
        return guard("CloseObject", handle, AzureStorageLibrary::error, () -> {
            Session session = sessions.take(handle);
            if (session instanceof WriteSession) {
                ((WriteSession) session).commit(null);
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
            writes.write(target, data, size);
            return success();
        });
    }

    /**
     * With a write-session handle, appends the bytes and adds the metadata to what the close commits; answers the
     * same handle. With an object name, uploads the whole object with the metadata and answers its name.
     */
    public CWObjectHandleFnValue WriteObject(String target, byte[] data, long size, CPluginMetaData[] metadata) {
        return guard(
                "WriteObject",
                target,
                id -> new CWObjectHandleFnValue(error(id), ""),
                () -> new CWObjectHandleFnValue(
                        success(), writes.writeWithMetadata(target, data, size, metadata, null)));
    }

    /** As the form without the flag; the flag is kept as the property "objFlag" (unsigned decimal). */
    public CWObjectHandleFnValue WriteObject(
            String target, byte[] data, long size, CPluginMetaData[] metadata, long objFlag) {
        return guard(
                "WriteObject",
                target,
                id -> new CWObjectHandleFnValue(error(id), ""),
                () -> new CWObjectHandleFnValue(
                        success(), writes.writeWithMetadata(target, data, size, metadata, objFlag)));
    }

    /**
     * Writes into a cached (not yet committed) object: with a write-session handle, or with the name of an object
     * that has an open write session, appends to that session; with any other name opens a new write session for
     * it first. Answers the session's handle; the object appears at {@code CloseObject}.
     */
    public CWObjectHandleFnValue WriteCachedObject(String target, byte[] data, long size, CPluginMetaData[] metadata) {
        return guard(
                "WriteCachedObject",
                target,
                id -> new CWObjectHandleFnValue(error(id), ""),
                () -> new CWObjectHandleFnValue(success(), writes.writeCached(target, data, size, metadata)));
    }

    /**
     * Replaces the whole content and metadata of an existing object (OBJECT_NOT_FOUND when there is none).
     * {@code handle} is the object's handle (its name, or an open session's handle); {@code name}, when not
     * empty, must be the object's name (INVALID_HANDLE otherwise), which catches handles mixed up by the caller.
     * Answers the object's name.
     */
    public CCreateFnValue UpdateObject(String handle, String name, byte[] data, long size, CPluginMetaData[] metadata) {
        return guard(
                "UpdateObject",
                handle,
                id -> new CCreateFnValue(error(id), ""),
                () -> new CCreateFnValue(success(), writes.update(handle, name, data, size, metadata, null)));
    }

    /** As the form without the flag; the flag is kept as the property "objFlag". */
    public CCreateFnValue UpdateObject(
            String handle, String name, byte[] data, long size, CPluginMetaData[] metadata, long objFlag) {
        return guard(
                "UpdateObject",
                handle,
                id -> new CCreateFnValue(error(id), ""),
                () -> new CCreateFnValue(success(), writes.update(handle, name, data, size, metadata, objFlag)));
    }

    /**
     * Appends bytes and metadata to the cached object of a write session. {@code name}, when not empty, must be
     * the session's object name (INVALID_HANDLE otherwise).
     */
    public CErrorValue UpdateCachedObjectByHandle(
            String handle, String name, byte[] data, long size, CPluginMetaData[] metadata) {
        return guard("UpdateCachedObjectByHandle", handle, AzureStorageLibrary::error, () -> {
            writes.appendByHandle(handle, name, data, size, metadata);
            return success();
        });
    }

    /** Appends bytes and metadata to the open write session of the named object (OBJECT_NOT_FOUND if none). */
    public CErrorValue UpdateCachedObjectByName(String name, byte[] data, long size, CPluginMetaData[] metadata) {
        return guard("UpdateCachedObjectByName", name, AzureStorageLibrary::error, () -> {
            writes.appendByName(name, data, size, metadata);
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
            ObjectReads.ReadResult r = reads.read(target, buffer, size, offset, false);
            return new CReadObjectFnValue(success(), r.bytes);
        });
    }

    /**
     * As {@link #ReadObject} (offset first, size second) and also answers the object's metadata: all of it, or
     * with {@code names} only the properties named there.
     */
    public CRObjectByNameFnValue ReadObjectByHandle(
            String handle, byte[] buffer, long offset, long size, String[] names) {
        return guard(
                "ReadObjectByHandle",
                handle,
                id -> new CRObjectByNameFnValue(error(id), null, 0L),
                () -> reads.readWithMetadata(handle, buffer, offset, size, names));
    }

    /** The same as {@link #ReadObjectByHandle}: a name and a handle are both accepted. */
    public CRObjectByNameFnValue ReadObjectByName(String name, byte[] buffer, long offset, long size, String[] names) {
        return guard(
                "ReadObjectByName",
                name,
                id -> new CRObjectByNameFnValue(error(id), null, 0L),
                () -> reads.readWithMetadata(name, buffer, offset, size, names));
    }

    // ------------------------------------------------------------------ metadata, queries, deletion

    /**
     * Sets one property. On a write session it joins what the close commits; on a committed object (by name or
     * read handle) the stored metadata is updated in place, other properties kept.
     */
    public CErrorValue SetObjectMetaData(String target, String property, String value) {
        return guard("SetObjectMetaData", target, AzureStorageLibrary::error, () -> {
            if (Rehydration.PROPERTY.equals(property)) {
                Rehydration.request(conn(), sessions.objectName(require(target)), value);
                return success();
            }
            writes.setProperty(target, MetadataCodec.toStored(require(property), require(value)));
            return success();
        });
    }

    /** All properties of an object (a write session answers what it will commit). */
    public CGObjectMetaDataFnValue GetObjectMetaData(String target) {
        return guard(
                "GetObjectMetaData",
                target,
                id -> new CGObjectMetaDataFnValue(error(id), null),
                () -> new CGObjectMetaDataFnValue(
                        success(), MetadataCodec.fromStored(reads.storedMetadataOf(target), null)));
    }

    /** One property's value; METADATA_NOT_FOUND when the object has no such property. */
    public CGetObjectMetaData GetObjectMetaData(String target, String item) {
        return guard("GetObjectMetaData", target, id -> new CGetObjectMetaData(error(id), null), () -> {
            require(item);
            String value = MetadataCodec.decode(reads.storedMetadataOf(target)).get(item);
            if (value == null) {
                throw StorageFailure.of(ERRORID.METADATA_NOT_FOUND);
            }
            return new CGetObjectMetaData(success(), value);
        });
    }

    /** Whether a committed object of that name (or of the handle's object) exists; a write session's is not yet. */
    public CIsObjectExistFnValue IsObjectExist(String target) {
        return guard(
                "IsObjectExist",
                target,
                id -> new CIsObjectExistFnValue(error(id), false),
                () -> new CIsObjectExistFnValue(success(), reads.exists(target)));
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
            return new CIsObjectExistFnValue(success(), ObjectNames.isSupportedName(path, extraLength));
        });
    }

    /**
     * The committed objects whose names start with {@code prefix} (empty: all), each with its metadata, keyed by
     * the full object name. CONTAINER_NOT_FOUND when the container does not exist.
     */
    public CRetGetSubMetaDataList GetObjectSubList(String prefix) {
        return guard("GetObjectSubList", prefix, id -> new CRetGetSubMetaDataList(error(id), null), () -> {
            StorageConnection c = conn();
            ListBlobsOptions options =
                    new ListBlobsOptions().setDetails(new BlobListDetails().setRetrieveMetadata(true));
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
                    metadata = MetadataCodec.withLength(
                            metadata, item.getProperties().getContentLength());
                }
                out.add(new CObjectSubListElement(item.getName(), metadata));
            }
            return new CRetGetSubMetaDataList(success(), out.toArray(new CObjectSubListElement[0]));
        });
    }

    /** Deletes a committed object (with its snapshots); OBJECT_NOT_FOUND when there is none. */
    public CErrorValue DeleteObjectByName(String name) {
        return guard("DeleteObjectByName", name, AzureStorageLibrary::error, () -> {
            writes.deleteByName(name);
            return success();
        });
    }

    /**
     * Deletes what a handle stands for: a write session is discarded (nothing stored changes); a read session
     * ends and its object is deleted; the name of a committed object deletes that object.
     */
    public CErrorValue DeleteObjectByHandle(String handle) {
        return guard("DeleteObjectByHandle", handle, AzureStorageLibrary::error, () -> {
            writes.deleteByHandle(handle);
            return success();
        });
    }

    /**
     * Deletes every handle's object as the one-handle form does, up to {@link DataPath#DELETES_AT_ONCE} at once,
     * going on after a failure; every failure is logged with its handle, and the answer is the first of them in
     * the array's order, or success. A null array is refused; an empty one does nothing.
     */
    public CErrorValue DeleteObjectByHandle(String[] handles) {
        return guard("DeleteObjectByHandle", null, AzureStorageLibrary::error, () -> {
            if (handles == null) {
                throw StorageFailure.of(ERRORID.INVALID_ARGUMENT);
            }
            // Each delete is a request of its own, answered after a round trip: many go at once.
            Throwable[] failures = dataPath()
                    .eachAtOnce(handles.length, DataPath.DELETES_AT_ONCE, i -> writes.deleteByHandle(handles[i]));
            ERRORID first = null;
            for (int i = 0; i < handles.length; i++) {
                if (failures[i] != null) {
                    ERRORID id = ErrorMapper.classify(failures[i]);
                    logFailure("DeleteObjectByHandle", handles[i], id, failures[i]);
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
            sessions.discardWriter(ObjectNames.plainName(name));
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
        return guard(
                "getStorageKey",
                archiveSet,
                id -> new CString(error(id), null),
                () -> new CString(success(), ObjectNames.storageKey(archiveSet, name)));
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
            c.rotate(); // the data path takes the new clients at its next request
            return new CString(success(), c.accountName());
        });
    }

    /** The configured container's name. */
    public CUniqueAccountValue GetContainerName() {
        return guard(
                "GetContainerName",
                null,
                id -> new CUniqueAccountValue(error(id), null),
                () -> new CUniqueAccountValue(success(), conn().config.containerName));
    }

    /** Deletes the configured container with everything in it; the next write creates it again. */
    public CErrorValue DeleteContainer() {
        return guard("DeleteContainer", null, AzureStorageLibrary::error, () -> {
            StorageConnection c = conn();
            c.container.deleteWithResponse(null, null, Context.NONE);
            c.containerGone();
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
                Map<String, String> metadata =
                        new TreeMap<>(c.container.getProperties().getMetadata());
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
        return guard(
                "GetAllObjectsSize",
                null,
                id -> new CGetAccountSizeValue(error(id), 0L),
                () -> new CGetAccountSizeValue(success(), AccountQueries.containerBytes(conn())));
    }

    /** The account's blob endpoint URL: unique across accounts, clouds and emulators, and free of secrets. */
    public CUniqueAccountValue GetUniqueAccountName() {
        return guard(
                "GetUniqueAccountName",
                null,
                id -> new CUniqueAccountValue(error(id), null),
                () -> new CUniqueAccountValue(success(), conn().accountUrl()));
    }

    /** The storage account's name: the owner of the stored data. */
    public CUniqueAccountValue GetOwnerName() {
        return guard(
                "GetOwnerName",
                null,
                id -> new CUniqueAccountValue(error(id), null),
                () -> new CUniqueAccountValue(success(), conn().accountName()));
    }

    /**
     * Whether two account designations mean the same account. Each may be empty (the configured account), a
     * connection string, an endpoint URL (as {@link #GetUniqueAccountName()} gives) or a bare account name; two
     * endpoints are compared whole, otherwise the account names are compared without regard to case.
     */
    public CIsObjectExistFnValue IsSameAccount(String first, String second) {
        return guard(
                "IsSameAccount",
                null,
                id -> new CIsObjectExistFnValue(error(id), false),
                () -> new CIsObjectExistFnValue(success(), AccountQueries.isSameAccount(conn(), first, second)));
    }

    /** Every container of the account. */
    public KQListContainers GetListContainers() {
        return guard(
                "GetListContainers",
                null,
                id -> new KQListContainers(error(id), null),
                () -> new KQListContainers(success(), AccountQueries.containers(conn())));
    }

    /**
     * The archive sets: the top-level folders ("set/..." object names) of the configured container.
     * CONTAINER_NOT_FOUND when the container does not exist.
     */
    public KQListContainers GetArchiveSet() {
        return guard(
                "GetArchiveSet",
                null,
                id -> new KQListContainers(error(id), null),
                () -> new KQListContainers(success(), AccountQueries.archiveSets(conn())));
    }

    /**
     * The account's storage locations: "primary", and "secondary" too when the account's replication keeps a
     * copy in a second region (GRS, RA-GRS, GZRS, RA-GZRS).
     */
    public KQListRegions GetRegions() {
        return guard(
                "GetRegions",
                null,
                id -> new KQListRegions(error(id), null),
                () -> new KQListRegions(success(), AccountQueries.regions(conn())));
    }

    /** Whether a container of that name exists and is reachable; a name Azure would refuse is simply not valid. */
    public CIsObjectExistFnValue IsValidContainer(String name) {
        return guard(
                "IsValidContainer",
                name,
                id -> new CIsObjectExistFnValue(error(id), false),
                () -> new CIsObjectExistFnValue(success(), AccountQueries.isValidContainer(conn(), require(name))));
    }

    /**
     * The account: identity = account name; type = replication and kind ("Standard_RAGRS/StorageV2"); display
     * name = "account/container"; e-mail = "" (storage accounts have none); used = bytes in the container;
     * remaining = the default account capacity (5 PiB) less that.
     */
    public CGetAccountInfoFnValue GetAccountInfo() {
        return guard(
                "GetAccountInfo",
                null,
                id -> new CGetAccountInfoFnValue(error(id), null, null, null, null, 0L, 0L),
                () -> AccountQueries.accountInfo(conn()));
    }

    /** The host name of the blob service the library talks to. */
    public CArrayOfString getServerNameList() {
        return guard(
                "getServerNameList",
                null,
                id -> new CArrayOfString(error(id), null),
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
            Level level = unexpected ? Level.WARNING : Level.FINE;
            if (!LOG.isLoggable(level)) {
                return;
            }
            String detail =
                    t instanceof StorageFailure ? "" : " (" + t.getClass().getName() + statusOf(t) + ")";
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

    /** Open sessions, for tests and diagnostics. */
    int openSessionCount() {
        return sessions.size();
    }
}
