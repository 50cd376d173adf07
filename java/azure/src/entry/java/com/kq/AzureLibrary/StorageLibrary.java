package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.CErrorValue;
import com.kq.plugin.model.CArrayOfString;
import com.kq.plugin.model.CInt;
import com.kq.plugin.model.CString;

/**
 * Every call the native plug-in makes on the library, as {@link KQAzurePlugInLibrary} forwards them to the
 * implementation. Compiled for release 8 like the entry class, which refers to it on any VM.
 */
interface StorageLibrary {
    CErrorValue AzureInit(String configuration, String installPath);

    CErrorValue AzureDeInit();

    CCreateFnValue CreateObject(String name);

    CCreateFnValue CreateCachedObject(String name);

    CCreateFnValue OpenObject(String name);

    CCreateFnValue GetBucketRegion(String containerName);

    CErrorValue CloseObject(String handle);

    CErrorValue WriteObject(String target, byte[] data, long size);

    CWObjectHandleFnValue WriteObject(String target, byte[] data, long size, CPluginMetaData[] metadata);

    CWObjectHandleFnValue WriteObject(String target, byte[] data, long size, CPluginMetaData[] metadata, long objFlag);

    CWObjectHandleFnValue WriteCachedObject(String target, byte[] data, long size, CPluginMetaData[] metadata);

    CCreateFnValue UpdateObject(String handle, String name, byte[] data, long size, CPluginMetaData[] metadata);

    CCreateFnValue UpdateObject(
            String handle, String name, byte[] data, long size, CPluginMetaData[] metadata, long objFlag);

    CErrorValue UpdateCachedObjectByHandle(
            String handle, String name, byte[] data, long size, CPluginMetaData[] metadata);

    CErrorValue UpdateCachedObjectByName(String name, byte[] data, long size, CPluginMetaData[] metadata);

    CReadObjectFnValue ReadObject(String target, byte[] buffer, long size, long offset);

    CRObjectByNameFnValue ReadObjectByHandle(String handle, byte[] buffer, long offset, long size, String[] names);

    CRObjectByNameFnValue ReadObjectByName(String name, byte[] buffer, long offset, long size, String[] names);

    CErrorValue SetObjectMetaData(String target, String property, String value);

    CGObjectMetaDataFnValue GetObjectMetaData(String target);

    CGetObjectMetaData GetObjectMetaData(String target, String item);

    CIsObjectExistFnValue IsObjectExist(String target);

    CIsObjectExistFnValue IsObjectPathSupported(String path, int extraLength);

    CRetGetSubMetaDataList GetObjectSubList(String prefix);

    CErrorValue DeleteObjectByName(String name);

    CErrorValue DeleteObjectByHandle(String handle);

    CErrorValue DeleteObjectByHandle(String[] handles);

    CErrorValue DeleteCachedObjectByName(String name);

    long GetObjectActualSize(long measuredSize, long objectSize);

    CString getStorageKey(String archiveSet, String name);

    CString updateStorageKey();

    CUniqueAccountValue GetContainerName();

    CErrorValue DeleteContainer();

    CErrorValue addJobInfo(long v1, long v2, long v3, long v4, long v5, long v6);

    CErrorValue CheckConnectivity();

    CGetAccountSizeValue GetAllObjectsSize();

    CUniqueAccountValue GetUniqueAccountName();

    CUniqueAccountValue GetOwnerName();

    CIsObjectExistFnValue IsSameAccount(String first, String second);

    KQListContainers GetListContainers();

    KQListContainers GetArchiveSet();

    KQListRegions GetRegions();

    CIsObjectExistFnValue IsValidContainer(String name);

    CGetAccountInfoFnValue GetAccountInfo();

    CArrayOfString getServerNameList();

    CInt canBackup();
}
