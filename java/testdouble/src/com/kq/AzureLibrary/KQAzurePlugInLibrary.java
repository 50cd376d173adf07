package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.CErrorValue;
import com.kq.plugin.model.CArrayOfString;
import com.kq.plugin.model.CInt;
import com.kq.plugin.model.CString;
import com.kq.testdouble.Script;
import java.util.function.LongFunction;
import java.util.function.Supplier;

/**
 * The scripted stand-in for the Java library, with the library's class name,
 * constructor and methods (names and signatures exactly as the plug-in looks
 * them up). Every method journals its call and answers what {@link Script}
 * says; the default answer of each is noted where it is not plain success.
 * Adding a method is one line or two of the same shape.
 */
public class KQAzurePlugInLibrary {
    private final String installRoot;

    public KQAzurePlugInLibrary(String installRoot) {
        this.installRoot = Script.call("<init>/1", () -> installRoot, installRoot);
    }

    public String installRoot() {
        return installRoot;
    }

    private static CErrorValue ok() {
        return CErrorValue.success();
    }

    private static Supplier<CCreateFnValue> handle(String name) {
        return () -> new CCreateFnValue(ok(), "handle:" + name);
    }

    private static Supplier<CWObjectHandleFnValue> written(String name) {
        return () -> new CWObjectHandleFnValue(ok(), "handle:" + name);
    }

    /** The reads by handle and by name: one default, the journal in the order of their parameters. */
    private static CRObjectByNameFnValue readWithValues(
            String key, String target, byte[] data, long offset, long size, String[] names) {
        LongFunction<CRObjectByNameFnValue> answer =
                count -> new CRObjectByNameFnValue(ok(), new CPluginMetaData[0], count);
        return Script.read(key, data, offset, size, answer, target, data, offset, size, names);
    }

    // ---- life cycle ----

    public CErrorValue AzureInit(String initArg, String installPath) {
        return Script.call("AzureInit/2", KQAzurePlugInLibrary::ok, initArg, installPath);
    }

    public CErrorValue AzureDeInit() {
        return Script.call("AzureDeInit/0", KQAzurePlugInLibrary::ok);
    }

    // ---- objects: open, create, close; handles are "handle:" + name ----

    public CCreateFnValue CreateObject(String name) {
        return Script.call("CreateObject/1", handle(name), name);
    }

    public CCreateFnValue OpenObject(String name) {
        return Script.call("OpenObject/1", handle(name), name);
    }

    public CCreateFnValue CreateCachedObject(String name) {
        return Script.call("CreateCachedObject/1", handle(name), name);
    }

    /** Default region: "region:" + name. */
    public CCreateFnValue GetBucketRegion(String name) {
        return Script.call("GetBucketRegion/1", () -> new CCreateFnValue(ok(), "region:" + name), name);
    }

    public CErrorValue CloseObject(String handle) {
        return Script.call("CloseObject/1", KQAzurePlugInLibrary::ok, handle);
    }

    // ---- objects: data transfer ----

    public CErrorValue WriteObject(String name, byte[] data, long size) {
        return Script.call("WriteObject/3", KQAzurePlugInLibrary::ok, name, data, size);
    }

    public CWObjectHandleFnValue WriteObject(String name, byte[] data, long size, CPluginMetaData[] metaData) {
        return Script.call("WriteObject/4", written(name), name, data, size, metaData);
    }

    public CWObjectHandleFnValue WriteObject(
            String name, byte[] data, long size, CPluginMetaData[] metaData, long objFlag) {
        return Script.call("WriteObject/5", written(name), name, data, size, metaData, objFlag);
    }

    public CWObjectHandleFnValue WriteCachedObject(String name, byte[] data, long size, CPluginMetaData[] metaData) {
        return Script.call("WriteCachedObject/4", written(name), name, data, size, metaData);
    }

    public CCreateFnValue UpdateObject(
            String first, String second, byte[] data, long size, CPluginMetaData[] metaData) {
        return Script.call("UpdateObject/5", handle(first), first, second, data, size, metaData);
    }

    public CCreateFnValue UpdateObject(
            String first, String second, byte[] data, long size, CPluginMetaData[] metaData, long objFlag) {
        return Script.call("UpdateObject/6", handle(first), first, second, data, size, metaData, objFlag);
    }

    public CErrorValue UpdateCachedObjectByHandle(
            String first, String second, byte[] data, long size, CPluginMetaData[] metaData) {
        return Script.call(
                "UpdateCachedObjectByHandle/5", KQAzurePlugInLibrary::ok, first, second, data, size, metaData);
    }

    public CErrorValue UpdateCachedObjectByName(String name, byte[] data, long size, CPluginMetaData[] metaData) {
        return Script.call("UpdateCachedObjectByName/4", KQAzurePlugInLibrary::ok, name, data, size, metaData);
    }

    /** Default: sizeRead = the bytes written into data (see Script, Reads). */
    public CReadObjectFnValue ReadObject(String name, byte[] data, long size, long offset) {
        LongFunction<CReadObjectFnValue> answer = count -> new CReadObjectFnValue(ok(), count);
        return Script.read("ReadObject/4", data, offset, size, answer, name, data, size, offset);
    }

    /** Default: bytesRead as ReadObject, values empty. */
    public CRObjectByNameFnValue ReadObjectByHandle(
            String handle, byte[] data, long offset, long size, String[] names) {
        return readWithValues("ReadObjectByHandle/5", handle, data, offset, size, names);
    }

    /** Default: bytesRead as ReadObject, values empty. */
    public CRObjectByNameFnValue ReadObjectByName(String name, byte[] data, long offset, long size, String[] names) {
        return readWithValues("ReadObjectByName/5", name, data, offset, size, names);
    }

    // ---- objects: queries, metadata, deletion ----

    public CErrorValue SetObjectMetaData(String name, String property, String value) {
        return Script.call("SetObjectMetaData/3", KQAzurePlugInLibrary::ok, name, property, value);
    }

    /** Default: no values. */
    public CGObjectMetaDataFnValue GetObjectMetaData(String name) {
        return Script.call(
                "GetObjectMetaData/1", () -> new CGObjectMetaDataFnValue(ok(), new CPluginMetaData[0]), name);
    }

    /** Default value: "value:" + item. */
    public CGetObjectMetaData GetObjectMetaData(String name, String item) {
        return Script.call("GetObjectMetaData/2", () -> new CGetObjectMetaData(ok(), "value:" + item), name, item);
    }

    /** Default: exists. */
    public CIsObjectExistFnValue IsObjectExist(String name) {
        return Script.call("IsObjectExist/1", () -> new CIsObjectExistFnValue(ok(), true), name);
    }

    /** Default: supported. */
    public CIsObjectExistFnValue IsObjectPathSupported(String path, int kind) {
        return Script.call("IsObjectPathSupported/2", () -> new CIsObjectExistFnValue(ok(), true), path, kind);
    }

    /** Default: no elements. */
    public CRetGetSubMetaDataList GetObjectSubList(String name) {
        return Script.call(
                "GetObjectSubList/1", () -> new CRetGetSubMetaDataList(ok(), new CObjectSubListElement[0]), name);
    }

    public CErrorValue DeleteObjectByName(String name) {
        return Script.call("DeleteObjectByName/1", KQAzurePlugInLibrary::ok, name);
    }

    public CErrorValue DeleteObjectByHandle(String handle) {
        return Script.call("DeleteObjectByHandle/1", KQAzurePlugInLibrary::ok, handle);
    }

    public CErrorValue DeleteObjectByHandle(String[] handles) {
        return Script.call("DeleteObjectByHandles/1", KQAzurePlugInLibrary::ok, (Object) handles);
    }

    public CErrorValue DeleteCachedObjectByName(String name) {
        return Script.call("DeleteCachedObjectByName/1", KQAzurePlugInLibrary::ok, name);
    }

    /** Default: the second value. A scripted answer must be a Long. */
    public long GetObjectActualSize(long first, long second) {
        return Script.<Long>call("GetObjectActualSize/2", () -> second, first, second);
    }

    // ---- containers, regions, account ----

    /** Default: valid. */
    public CIsObjectExistFnValue IsValidContainer(String name) {
        return Script.call("IsValidContainer/1", () -> new CIsObjectExistFnValue(ok(), true), name);
    }

    /** Default: no containers. */
    public KQListContainers GetListContainers() {
        return Script.call("GetListContainers/0", () -> new KQListContainers(ok(), new KQAzureContainer[0]));
    }

    /** Default: no archive sets. */
    public KQListContainers GetArchiveSet() {
        return Script.call("GetArchiveSet/0", () -> new KQListContainers(ok(), new KQAzureContainer[0]));
    }

    /** Default: no regions. */
    public KQListRegions GetRegions() {
        return Script.call("GetRegions/0", () -> new KQListRegions(ok(), new String[0]));
    }

    /** Default: "container". */
    public CUniqueAccountValue GetContainerName() {
        return Script.call("GetContainerName/0", () -> new CUniqueAccountValue(ok(), "container"));
    }

    public CErrorValue DeleteContainer() {
        return Script.call("DeleteContainer/0", KQAzurePlugInLibrary::ok);
    }

    /** Default: "id", "type", "name", "mail", 1, 2. */
    public CGetAccountInfoFnValue GetAccountInfo() {
        return Script.call(
                "GetAccountInfo/0", () -> new CGetAccountInfoFnValue(ok(), "id", "type", "name", "mail", 1, 2));
    }

    /** Default: 0. */
    public CGetAccountSizeValue GetAllObjectsSize() {
        return Script.call("GetAllObjectsSize/0", () -> new CGetAccountSizeValue(ok(), 0));
    }

    /** Default: "account". */
    public CUniqueAccountValue GetUniqueAccountName() {
        return Script.call("GetUniqueAccountName/0", () -> new CUniqueAccountValue(ok(), "account"));
    }

    /** Default: "owner". */
    public CUniqueAccountValue GetOwnerName() {
        return Script.call("GetOwnerName/0", () -> new CUniqueAccountValue(ok(), "owner"));
    }

    /** Default: same. */
    public CIsObjectExistFnValue IsSameAccount(String first, String second) {
        return Script.call("IsSameAccount/2", () -> new CIsObjectExistFnValue(ok(), true), first, second);
    }

    public CErrorValue CheckConnectivity() {
        return Script.call("CheckConnectivity/0", KQAzurePlugInLibrary::ok);
    }

    /** Default: "key:" + first. */
    public CString getStorageKey(String first, String second) {
        return Script.call("getStorageKey/2", () -> new CString(ok(), "key:" + first), first, second);
    }

    /** Default: "key". */
    public CString updateStorageKey() {
        return Script.call("updateStorageKey/0", () -> new CString(ok(), "key"));
    }

    /** Default: no names. */
    public CArrayOfString getServerNameList() {
        return Script.call("getServerNameList/0", () -> new CArrayOfString(ok(), new String[0]));
    }

    /** Default: 1. */
    public CInt canBackup() {
        return Script.call("canBackup/0", () -> new CInt(1, ok()));
    }

    public CErrorValue addJobInfo(long a, long b, long c, long d, long e, long f) {
        return Script.call("addJobInfo/6", KQAzurePlugInLibrary::ok, a, b, c, d, e, f);
    }
}
