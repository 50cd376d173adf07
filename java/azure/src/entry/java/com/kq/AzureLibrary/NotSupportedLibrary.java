package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.CErrorValue;
import com.kq.KQCloudPluginInterface.ERRORID;
import com.kq.plugin.model.CArrayOfString;
import com.kq.plugin.model.CInt;
import com.kq.plugin.model.CString;

/**
 * The library on a VM that cannot run the implementation, or when the implementation could not be loaded: every
 * call answers {@link ERRORID#NOT_SUPPORTED} (host code 24) with a fresh result, except
 * {@link #GetObjectActualSize(long, long)}, which answers the object size as always. Compiled for release 8 like
 * the entry class.
 */
final class NotSupportedLibrary implements StorageLibrary {
    private static CErrorValue refused() {
        return new CErrorValue(ERRORID.NOT_SUPPORTED);
    }

    @Override
    public CErrorValue AzureInit(String configuration, String installPath) {
        return refused();
    }

    @Override
    public CErrorValue AzureDeInit() {
        return refused();
    }

    @Override
    public CCreateFnValue CreateObject(String name) {
        return new CCreateFnValue(refused(), "");
    }

    @Override
    public CCreateFnValue CreateCachedObject(String name) {
        return new CCreateFnValue(refused(), "");
    }

    @Override
    public CCreateFnValue OpenObject(String name) {
        return new CCreateFnValue(refused(), "");
    }

    @Override
    public CCreateFnValue GetBucketRegion(String containerName) {
        return new CCreateFnValue(refused(), "");
    }

    @Override
    public CErrorValue CloseObject(String handle) {
        return refused();
    }

    @Override
    public CErrorValue WriteObject(String target, byte[] data, long size) {
        return refused();
    }

    @Override
    public CWObjectHandleFnValue WriteObject(String target, byte[] data, long size, CPluginMetaData[] metadata) {
        return new CWObjectHandleFnValue(refused(), "");
    }

    @Override
    public CWObjectHandleFnValue WriteObject(
            String target, byte[] data, long size, CPluginMetaData[] metadata, long objFlag) {
        return new CWObjectHandleFnValue(refused(), "");
    }

    @Override
    public CWObjectHandleFnValue WriteCachedObject(String target, byte[] data, long size, CPluginMetaData[] metadata) {
        return new CWObjectHandleFnValue(refused(), "");
    }

    @Override
    public CCreateFnValue UpdateObject(String handle, String name, byte[] data, long size, CPluginMetaData[] metadata) {
        return new CCreateFnValue(refused(), "");
    }

    @Override
    public CCreateFnValue UpdateObject(
            String handle, String name, byte[] data, long size, CPluginMetaData[] metadata, long objFlag) {
        return new CCreateFnValue(refused(), "");
    }

    @Override
    public CErrorValue UpdateCachedObjectByHandle(
            String handle, String name, byte[] data, long size, CPluginMetaData[] metadata) {
        return refused();
    }

    @Override
    public CErrorValue UpdateCachedObjectByName(String name, byte[] data, long size, CPluginMetaData[] metadata) {
        return refused();
    }

    @Override
    public CReadObjectFnValue ReadObject(String target, byte[] buffer, long size, long offset) {
        return new CReadObjectFnValue(refused(), 0L);
    }

    @Override
    public CRObjectByNameFnValue ReadObjectByHandle(
            String handle, byte[] buffer, long offset, long size, String[] names) {
        return new CRObjectByNameFnValue(refused(), null, 0L);
    }

    @Override
    public CRObjectByNameFnValue ReadObjectByName(String name, byte[] buffer, long offset, long size, String[] names) {
        return new CRObjectByNameFnValue(refused(), null, 0L);
    }

    @Override
    public CErrorValue SetObjectMetaData(String target, String property, String value) {
        return refused();
    }

    @Override
    public CGObjectMetaDataFnValue GetObjectMetaData(String target) {
        return new CGObjectMetaDataFnValue(refused(), null);
    }

    @Override
    public CGetObjectMetaData GetObjectMetaData(String target, String item) {
        return new CGetObjectMetaData(refused(), null);
    }

    @Override
    public CIsObjectExistFnValue IsObjectExist(String target) {
        return new CIsObjectExistFnValue(refused(), false);
    }

    @Override
    public CIsObjectExistFnValue IsObjectPathSupported(String path, int extraLength) {
        return new CIsObjectExistFnValue(refused(), false);
    }

    @Override
    public CRetGetSubMetaDataList GetObjectSubList(String prefix) {
        return new CRetGetSubMetaDataList(refused(), null);
    }

    @Override
    public CErrorValue DeleteObjectByName(String name) {
        return refused();
    }

    @Override
    public CErrorValue DeleteObjectByHandle(String handle) {
        return refused();
    }

    @Override
    public CErrorValue DeleteObjectByHandle(String[] handles) {
        return refused();
    }

    @Override
    public CErrorValue DeleteCachedObjectByName(String name) {
        return refused();
    }

    @Override
    public long GetObjectActualSize(long measuredSize, long objectSize) {
        return objectSize;
    }

    @Override
    public CString getStorageKey(String archiveSet, String name) {
        return new CString(refused(), null);
    }

    @Override
    public CString updateStorageKey() {
        return new CString(refused(), null);
    }

    @Override
    public CUniqueAccountValue GetContainerName() {
        return new CUniqueAccountValue(refused(), null);
    }

    @Override
    public CErrorValue DeleteContainer() {
        return refused();
    }

    @Override
    public CErrorValue addJobInfo(long v1, long v2, long v3, long v4, long v5, long v6) {
        return refused();
    }

    @Override
    public CErrorValue CheckConnectivity() {
        return refused();
    }

    @Override
    public CGetAccountSizeValue GetAllObjectsSize() {
        return new CGetAccountSizeValue(refused(), 0L);
    }

    @Override
    public CUniqueAccountValue GetUniqueAccountName() {
        return new CUniqueAccountValue(refused(), null);
    }

    @Override
    public CUniqueAccountValue GetOwnerName() {
        return new CUniqueAccountValue(refused(), null);
    }

    @Override
    public CIsObjectExistFnValue IsSameAccount(String first, String second) {
        return new CIsObjectExistFnValue(refused(), false);
    }

    @Override
    public KQListContainers GetListContainers() {
        return new KQListContainers(refused(), null);
    }

    @Override
    public KQListContainers GetArchiveSet() {
        return new KQListContainers(refused(), null);
    }

    @Override
    public KQListRegions GetRegions() {
        return new KQListRegions(refused(), null);
    }

    @Override
    public CIsObjectExistFnValue IsValidContainer(String name) {
        return new CIsObjectExistFnValue(refused(), false);
    }

    @Override
    public CGetAccountInfoFnValue GetAccountInfo() {
        return new CGetAccountInfoFnValue(refused(), null, null, null, null, 0L, 0L);
    }

    @Override
    public CArrayOfString getServerNameList() {
        return new CArrayOfString(refused(), null);
    }

    @Override
    public CInt canBackup() {
        return new CInt(0, refused());
    }
}
