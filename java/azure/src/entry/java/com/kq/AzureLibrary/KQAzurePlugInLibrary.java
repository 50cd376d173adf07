package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.CErrorValue;
import com.kq.KQCloudPluginInterface.ERRORID;
import com.kq.plugin.model.CArrayOfString;
import com.kq.plugin.model.CInt;
import com.kq.plugin.model.CString;

/**
 * The class the native plug-in looks up by name: it forwards every call to {@link AzureStorageLibrary}, which
 * does the work. It and the model classes are compiled for release 8 so that they load on whatever VM the host
 * embeds. The implementation needs Java {@value #REQUIRED_JAVA} or later with the {@code java.net.http} module
 * (the transport of the Azure SDK refuses older releases); on an older or smaller runtime the implementation is
 * never loaded, the constructor logs one line naming the running and the required Java, and every call answers
 * {@link ERRORID#NOT_SUPPORTED} (host code 24), except {@link #GetObjectActualSize(long, long)}, which answers
 * the object size as always. Nothing here throws.
 */
public class KQAzurePlugInLibrary {
    /** The oldest Java feature release the implementation runs on. */
    static final int REQUIRED_JAVA = 12;
    private static final String IMPLEMENTATION = "com.kq.AzureLibrary.AzureStorageLibrary";

    /** The implementation; null when this VM cannot run it. */
    private final StorageLibrary library;

    public KQAzurePlugInLibrary(String installPath) {
        library = create(installPath);
    }

    /**
     * Why this VM cannot run the implementation, or null when it can: the running feature release from
     * {@code java.specification.version} ("1.8" on Java 8, "11" from Java 9 on) and the HTTP client module.
     */
    static String unsupportedReason(String specificationVersion, boolean haveHttpClient) {
        int feature = featureOf(specificationVersion);
        if (feature >= REQUIRED_JAVA && haveHttpClient) {
            return null;
        }
        return "KQ Azure library: Java " + System.getProperty("java.version", specificationVersion)
                + " is running; the library needs Java " + REQUIRED_JAVA + " or later"
                + (haveHttpClient ? "" : " with the java.net.http module")
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
            reason = unsupportedReason(System.getProperty("java.specification.version"), haveHttpClient());
            if (reason == null) {
                return (StorageLibrary) Class.forName(IMPLEMENTATION).getConstructor(String.class)
                        .newInstance(installPath);
            }
        } catch (Throwable t) {
            // A broken class path (a dependency jar missing) must not make the host's lookup fail either.
            reason = "KQ Azure library: the implementation could not be loaded (" + t.getClass().getName()
                    + "); every storage call answers NOT_SUPPORTED (host code 24)";
        }
        log(reason);
        return null;
    }

    private static boolean haveHttpClient() {
        try {
            Class.forName("java.net.http.HttpClient", false, KQAzurePlugInLibrary.class.getClassLoader());
            return true;
        } catch (Throwable t) {
            return false;
        }
    }

    /** java.util.logging is on every Java 8 runtime, but a trimmed runtime may lack it: then stderr. */
    private static void log(String text) {
        try {
            java.util.logging.Logger.getLogger("com.kq.AzureLibrary").severe(text);
        } catch (Throwable t) {
            System.err.println(text);
        }
    }

    /** The implementation, or null on a VM that cannot run it; for tests and diagnostics. */
    StorageLibrary implementation() {
        return library;
    }

    private static CErrorValue refused() {
        return new CErrorValue(ERRORID.NOT_SUPPORTED);
    }

    public CErrorValue AzureInit(String configuration, String installPath) {
        return library != null ? library.AzureInit(configuration, installPath) : refused();
    }

    public CErrorValue AzureDeInit() {
        return library != null ? library.AzureDeInit() : refused();
    }

    public CCreateFnValue CreateObject(String name) {
        return library != null ? library.CreateObject(name) : new CCreateFnValue(refused(), "");
    }

    public CCreateFnValue CreateCachedObject(String name) {
        return library != null ? library.CreateCachedObject(name) : new CCreateFnValue(refused(), "");
    }

    public CCreateFnValue OpenObject(String name) {
        return library != null ? library.OpenObject(name) : new CCreateFnValue(refused(), "");
    }

    public CCreateFnValue GetBucketRegion(String containerName) {
        return library != null ? library.GetBucketRegion(containerName) : new CCreateFnValue(refused(), "");
    }

    public CErrorValue CloseObject(String handle) {
        return library != null ? library.CloseObject(handle) : refused();
    }

    public CErrorValue WriteObject(String target, byte[] data, long size) {
        return library != null ? library.WriteObject(target, data, size) : refused();
    }

    public CWObjectHandleFnValue WriteObject(String target, byte[] data, long size, CPluginMetaData[] metadata) {
        return library != null ? library.WriteObject(target, data, size, metadata) : new CWObjectHandleFnValue(refused(), "");
    }

    public CWObjectHandleFnValue WriteObject(String target, byte[] data, long size, CPluginMetaData[] metadata, long objFlag) {
        return library != null ? library.WriteObject(target, data, size, metadata, objFlag) : new CWObjectHandleFnValue(refused(), "");
    }

    public CWObjectHandleFnValue WriteCachedObject(String target, byte[] data, long size, CPluginMetaData[] metadata) {
        return library != null ? library.WriteCachedObject(target, data, size, metadata) : new CWObjectHandleFnValue(refused(), "");
    }

    public CCreateFnValue UpdateObject(String handle, String name, byte[] data, long size, CPluginMetaData[] metadata) {
        return library != null ? library.UpdateObject(handle, name, data, size, metadata) : new CCreateFnValue(refused(), "");
    }

    public CCreateFnValue UpdateObject(String handle, String name, byte[] data, long size, CPluginMetaData[] metadata, long objFlag) {
        return library != null ? library.UpdateObject(handle, name, data, size, metadata, objFlag) : new CCreateFnValue(refused(), "");
    }

    public CErrorValue UpdateCachedObjectByHandle(String handle, String name, byte[] data, long size, CPluginMetaData[] metadata) {
        return library != null ? library.UpdateCachedObjectByHandle(handle, name, data, size, metadata) : refused();
    }

    public CErrorValue UpdateCachedObjectByName(String name, byte[] data, long size, CPluginMetaData[] metadata) {
        return library != null ? library.UpdateCachedObjectByName(name, data, size, metadata) : refused();
    }

    public CReadObjectFnValue ReadObject(String target, byte[] buffer, long size, long offset) {
        return library != null ? library.ReadObject(target, buffer, size, offset) : new CReadObjectFnValue(refused(), 0L);
    }

    public CRObjectByNameFnValue ReadObjectByHandle(String handle, byte[] buffer, long offset, long size, String[] names) {
        return library != null ? library.ReadObjectByHandle(handle, buffer, offset, size, names) : new CRObjectByNameFnValue(refused(), null, 0L);
    }

    public CRObjectByNameFnValue ReadObjectByName(String name, byte[] buffer, long offset, long size, String[] names) {
        return library != null ? library.ReadObjectByName(name, buffer, offset, size, names) : new CRObjectByNameFnValue(refused(), null, 0L);
    }

    public CErrorValue SetObjectMetaData(String target, String property, String value) {
        return library != null ? library.SetObjectMetaData(target, property, value) : refused();
    }

    public CGObjectMetaDataFnValue GetObjectMetaData(String target) {
        return library != null ? library.GetObjectMetaData(target) : new CGObjectMetaDataFnValue(refused(), null);
    }

    public CGetObjectMetaData GetObjectMetaData(String target, String item) {
        return library != null ? library.GetObjectMetaData(target, item) : new CGetObjectMetaData(refused(), null);
    }

    public CIsObjectExistFnValue IsObjectExist(String target) {
        return library != null ? library.IsObjectExist(target) : new CIsObjectExistFnValue(refused(), false);
    }

    public CIsObjectExistFnValue IsObjectPathSupported(String path, int extraLength) {
        return library != null ? library.IsObjectPathSupported(path, extraLength) : new CIsObjectExistFnValue(refused(), false);
    }

    public CRetGetSubMetaDataList GetObjectSubList(String prefix) {
        return library != null ? library.GetObjectSubList(prefix) : new CRetGetSubMetaDataList(refused(), null);
    }

    public CErrorValue DeleteObjectByName(String name) {
        return library != null ? library.DeleteObjectByName(name) : refused();
    }

    public CErrorValue DeleteObjectByHandle(String handle) {
        return library != null ? library.DeleteObjectByHandle(handle) : refused();
    }

    public CErrorValue DeleteObjectByHandle(String[] handles) {
        return library != null ? library.DeleteObjectByHandle(handles) : refused();
    }

    public CErrorValue DeleteCachedObjectByName(String name) {
        return library != null ? library.DeleteCachedObjectByName(name) : refused();
    }

    public long GetObjectActualSize(long measuredSize, long objectSize) {
        return library != null ? library.GetObjectActualSize(measuredSize, objectSize) : objectSize;
    }

    public CString getStorageKey(String archiveSet, String name) {
        return library != null ? library.getStorageKey(archiveSet, name) : new CString(refused(), null);
    }

    public CString updateStorageKey() {
        return library != null ? library.updateStorageKey() : new CString(refused(), null);
    }

    public CUniqueAccountValue GetContainerName() {
        return library != null ? library.GetContainerName() : new CUniqueAccountValue(refused(), null);
    }

    public CErrorValue DeleteContainer() {
        return library != null ? library.DeleteContainer() : refused();
    }

    public CErrorValue addJobInfo(long v1, long v2, long v3, long v4, long v5, long v6) {
        return library != null ? library.addJobInfo(v1, v2, v3, v4, v5, v6) : refused();
    }

    public CErrorValue CheckConnectivity() {
        return library != null ? library.CheckConnectivity() : refused();
    }

    public CGetAccountSizeValue GetAllObjectsSize() {
        return library != null ? library.GetAllObjectsSize() : new CGetAccountSizeValue(refused(), 0L);
    }

    public CUniqueAccountValue GetUniqueAccountName() {
        return library != null ? library.GetUniqueAccountName() : new CUniqueAccountValue(refused(), null);
    }

    public CUniqueAccountValue GetOwnerName() {
        return library != null ? library.GetOwnerName() : new CUniqueAccountValue(refused(), null);
    }

    public CIsObjectExistFnValue IsSameAccount(String first, String second) {
        return library != null ? library.IsSameAccount(first, second) : new CIsObjectExistFnValue(refused(), false);
    }

    public KQListContainers GetListContainers() {
        return library != null ? library.GetListContainers() : new KQListContainers(refused(), null);
    }

    public KQListContainers GetArchiveSet() {
        return library != null ? library.GetArchiveSet() : new KQListContainers(refused(), null);
    }

    public KQListRegions GetRegions() {
        return library != null ? library.GetRegions() : new KQListRegions(refused(), null);
    }

    public CIsObjectExistFnValue IsValidContainer(String name) {
        return library != null ? library.IsValidContainer(name) : new CIsObjectExistFnValue(refused(), false);
    }

    public CGetAccountInfoFnValue GetAccountInfo() {
        return library != null ? library.GetAccountInfo() : new CGetAccountInfoFnValue(refused(), null, null, null, null, 0L, 0L);
    }

    public CArrayOfString getServerNameList() {
        return library != null ? library.getServerNameList() : new CArrayOfString(refused(), null);
    }

    public CInt canBackup() {
        return library != null ? library.canBackup() : new CInt(0, refused());
    }
}
