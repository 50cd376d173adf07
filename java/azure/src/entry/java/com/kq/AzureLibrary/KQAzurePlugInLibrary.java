package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.CErrorValue;
import com.kq.KQCloudPluginInterface.ERRORID;
import com.kq.plugin.model.CArrayOfString;
import com.kq.plugin.model.CInt;
import com.kq.plugin.model.CString;

/**
 * The class the native plug-in looks up by name: it forwards every call to {@link AzureStorageLibrary}, which
 * does the work. The whole library is compiled for release 8, so it loads and works on Java {@value #REQUIRED_JAVA}
 * and every later release. When the implementation cannot run (a VM reporting an older release, or a class of the
 * library or its dependencies missing from the class path), the constructor logs one line saying why and every
 * call goes to {@link NotSupportedLibrary}, which answers {@link ERRORID#NOT_SUPPORTED} (host code 24). Nothing
 * here throws.
 */
public class KQAzurePlugInLibrary {
    /** The oldest Java feature release the implementation runs on. */
    static final int REQUIRED_JAVA = 8;

    private static final String IMPLEMENTATION = "com.kq.AzureLibrary.AzureStorageLibrary";
    /**
     * Classes the implementation needs from its dependency jars, loaded (not initialised) before it is built, so
     * that a jar missing beside the library shows here, once, and not as a failure of some later call.
     */
    private static final String[] DEPENDENCIES = {
        "com.azure.storage.blob.BlobServiceClientBuilder",
        "com.azure.core.http.okhttp.OkHttpAsyncHttpClientBuilder",
        "okhttp3.OkHttpClient",
        "okio.Buffer",
        "kotlin.jvm.internal.Intrinsics",
        "reactor.core.publisher.Mono",
    };

    /** The implementation, or the one answering NOT_SUPPORTED. */
    private final StorageLibrary library;

    public KQAzurePlugInLibrary(String installPath) {
        library = create(installPath);
    }

    /**
     * Why this VM cannot run the implementation, or null when it can, from its {@code java.specification.version}
     * ("1.8" on Java 8, "11" from Java 9 on).
     */
    static String unsupportedReason(String specificationVersion) {
        if (featureOf(specificationVersion) >= REQUIRED_JAVA) {
            return null;
        }
        return "KQ Azure library: Java " + System.getProperty("java.version", specificationVersion)
                + " is running; the library needs Java " + REQUIRED_JAVA + " or later"
                + "; every storage call answers NOT_SUPPORTED (host code 24)";
    }

    static int featureOf(String specificationVersion) {
        String v = specificationVersion == null ? "" : specificationVersion.trim();
        if (v.startsWith("1.")) {
            v = v.substring(2);
        }
        int end = 0;
        while (end < v.length() && Character.isDigit(v.charAt(end))) {
            end++;
        }
        try {
            return end == 0 ? 0 : Integer.parseInt(v.substring(0, end));
        } catch (NumberFormatException e) {
            return 0;
        }
    }

    private static StorageLibrary create(String installPath) {
        String reason;
        try {
            reason = unsupportedReason(System.getProperty("java.specification.version"));
            if (reason == null) {
                ClassLoader loader = KQAzurePlugInLibrary.class.getClassLoader();
                for (String name : DEPENDENCIES) {
                    Class.forName(name, false, loader);
                }
                return (StorageLibrary) Class.forName(IMPLEMENTATION)
                        .getConstructor(String.class)
                        .newInstance(installPath);
            }
        } catch (Throwable t) {
            // A broken class path (a dependency jar missing) must not make the host's lookup fail either.
            reason = "KQ Azure library: the implementation could not be loaded ("
                    + t.getClass().getName()
                    + (t.getMessage() == null ? "" : ": " + t.getMessage())
                    + "); every storage call answers NOT_SUPPORTED (host code 24)";
        }
        log(reason);
        return new NotSupportedLibrary();
    }

    /** java.util.logging is on every Java 8 runtime, but a trimmed runtime may lack it: then stderr. */
    private static void log(String text) {
        try {
            java.util.logging.Logger.getLogger("com.kq.AzureLibrary").severe(text);
        } catch (Throwable t) {
            System.err.println(text);
        }
    }

    /** The implementation, or a {@link NotSupportedLibrary}; for tests and diagnostics. */
    StorageLibrary implementation() {
        return library;
    }

    public CErrorValue AzureInit(String configuration, String installPath) {
        return library.AzureInit(configuration, installPath);
    }

    public CErrorValue AzureDeInit() {
        return library.AzureDeInit();
    }

    public CCreateFnValue CreateObject(String name) {
        return library.CreateObject(name);
    }

    public CCreateFnValue CreateCachedObject(String name) {
        return library.CreateCachedObject(name);
    }

    public CCreateFnValue OpenObject(String name) {
        return library.OpenObject(name);
    }

    public CCreateFnValue GetBucketRegion(String containerName) {
        return library.GetBucketRegion(containerName);
    }

    public CErrorValue CloseObject(String handle) {
        return library.CloseObject(handle);
    }

    public CErrorValue WriteObject(String target, byte[] data, long size) {
        return library.WriteObject(target, data, size);
    }

    public CWObjectHandleFnValue WriteObject(String target, byte[] data, long size, CPluginMetaData[] metadata) {
        return library.WriteObject(target, data, size, metadata);
    }

    public CWObjectHandleFnValue WriteObject(
            String target, byte[] data, long size, CPluginMetaData[] metadata, long objFlag) {
        return library.WriteObject(target, data, size, metadata, objFlag);
    }

    public CWObjectHandleFnValue WriteCachedObject(String target, byte[] data, long size, CPluginMetaData[] metadata) {
        return library.WriteCachedObject(target, data, size, metadata);
    }

    public CCreateFnValue UpdateObject(String handle, String name, byte[] data, long size, CPluginMetaData[] metadata) {
        return library.UpdateObject(handle, name, data, size, metadata);
    }

    public CCreateFnValue UpdateObject(
            String handle, String name, byte[] data, long size, CPluginMetaData[] metadata, long objFlag) {
        return library.UpdateObject(handle, name, data, size, metadata, objFlag);
    }

    public CErrorValue UpdateCachedObjectByHandle(
            String handle, String name, byte[] data, long size, CPluginMetaData[] metadata) {
        return library.UpdateCachedObjectByHandle(handle, name, data, size, metadata);
    }

    public CErrorValue UpdateCachedObjectByName(String name, byte[] data, long size, CPluginMetaData[] metadata) {
        return library.UpdateCachedObjectByName(name, data, size, metadata);
    }

    public CReadObjectFnValue ReadObject(String target, byte[] buffer, long size, long offset) {
        return library.ReadObject(target, buffer, size, offset);
    }

    public CRObjectByNameFnValue ReadObjectByHandle(
            String handle, byte[] buffer, long offset, long size, String[] names) {
        return library.ReadObjectByHandle(handle, buffer, offset, size, names);
    }

    public CRObjectByNameFnValue ReadObjectByName(String name, byte[] buffer, long offset, long size, String[] names) {
        return library.ReadObjectByName(name, buffer, offset, size, names);
    }

    public CErrorValue SetObjectMetaData(String target, String property, String value) {
        return library.SetObjectMetaData(target, property, value);
    }

    public CGObjectMetaDataFnValue GetObjectMetaData(String target) {
        return library.GetObjectMetaData(target);
    }

    public CGetObjectMetaData GetObjectMetaData(String target, String item) {
        return library.GetObjectMetaData(target, item);
    }

    public CIsObjectExistFnValue IsObjectExist(String target) {
        return library.IsObjectExist(target);
    }

    public CIsObjectExistFnValue IsObjectPathSupported(String path, int extraLength) {
        return library.IsObjectPathSupported(path, extraLength);
    }

    public CRetGetSubMetaDataList GetObjectSubList(String prefix) {
        return library.GetObjectSubList(prefix);
    }

    public CErrorValue DeleteObjectByName(String name) {
        return library.DeleteObjectByName(name);
    }

    public CErrorValue DeleteObjectByHandle(String handle) {
        return library.DeleteObjectByHandle(handle);
    }

    public CErrorValue DeleteObjectByHandle(String[] handles) {
        return library.DeleteObjectByHandle(handles);
    }

    public CErrorValue DeleteCachedObjectByName(String name) {
        return library.DeleteCachedObjectByName(name);
    }

    public long GetObjectActualSize(long measuredSize, long objectSize) {
        return library.GetObjectActualSize(measuredSize, objectSize);
    }

    public CString getStorageKey(String archiveSet, String name) {
        return library.getStorageKey(archiveSet, name);
    }

    public CString updateStorageKey() {
        return library.updateStorageKey();
    }

    public CUniqueAccountValue GetContainerName() {
        return library.GetContainerName();
    }

    public CErrorValue DeleteContainer() {
        return library.DeleteContainer();
    }

    public CErrorValue addJobInfo(long v1, long v2, long v3, long v4, long v5, long v6) {
        return library.addJobInfo(v1, v2, v3, v4, v5, v6);
    }

    public CErrorValue CheckConnectivity() {
        return library.CheckConnectivity();
    }

    public CGetAccountSizeValue GetAllObjectsSize() {
        return library.GetAllObjectsSize();
    }

    public CUniqueAccountValue GetUniqueAccountName() {
        return library.GetUniqueAccountName();
    }

    public CUniqueAccountValue GetOwnerName() {
        return library.GetOwnerName();
    }

    public CIsObjectExistFnValue IsSameAccount(String first, String second) {
        return library.IsSameAccount(first, second);
    }

    public KQListContainers GetListContainers() {
        return library.GetListContainers();
    }

    public KQListContainers GetArchiveSet() {
        return library.GetArchiveSet();
    }

    public KQListRegions GetRegions() {
        return library.GetRegions();
    }

    public CIsObjectExistFnValue IsValidContainer(String name) {
        return library.IsValidContainer(name);
    }

    public CGetAccountInfoFnValue GetAccountInfo() {
        return library.GetAccountInfo();
    }

    public CArrayOfString getServerNameList() {
        return library.getServerNameList();
    }

    public CInt canBackup() {
        return library.canBackup();
    }
}
