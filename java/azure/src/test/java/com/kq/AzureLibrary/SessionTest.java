package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.ERRORID;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.extension.ExtendWith;

import java.util.Arrays;
import java.util.Map;

import static com.kq.AzureLibrary.TestSupport.asMap;
import static com.kq.AzureLibrary.TestSupport.data;
import static com.kq.AzureLibrary.TestSupport.expect;
import static com.kq.AzureLibrary.TestSupport.meta;
import static com.kq.AzureLibrary.TestSupport.ok;
import static com.kq.AzureLibrary.TestSupport.readInChunks;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

/** Write sessions commit at the close and only then; cached objects; read sessions stay on one version. */
@ExtendWith(AzuriteExtension.class)
class SessionTest {
    private static final int BLOCK = 16 * 1024;
    private static KQAzurePlugInLibrary lib;

    @BeforeAll
    static void setUp(AzuriteProcess azurite) {
        lib = TestSupport.library(azurite, "session", "BlockSize=" + BLOCK);
    }

    @AfterAll
    static void tearDown() {
        ok(lib.AzureDeInit());
    }

    private static boolean exists(String name) {
        CIsObjectExistFnValue r = lib.IsObjectExist(name);
        ok(r.errorValue);
        return r.isExist;
    }

    private static int listed(String prefix) {
        CRetGetSubMetaDataList r = lib.GetObjectSubList(prefix);
        ok(r.errorValue);
        return r.metaDat.length;
    }

    @Test
    void nothingIsVisibleBeforeTheClose() {
        String name = "invisible/obj";
        byte[] content = data(1, 3 * BLOCK + 5); // several staged blocks plus a rest
        CCreateFnValue created = lib.CreateObject(name);
        ok(created.errorValue);
        assertTrue(created.objHandle.startsWith(KQAzurePlugInLibrary.HANDLE_PREFIX));
        ok(lib.WriteObject(created.objHandle, content, content.length, meta("stage", "one")).errorValue);
        ok(lib.SetObjectMetaData(created.objHandle, "late", "two"));

        assertFalse(exists(name));
        assertFalse(exists(created.objHandle), "a handle asks about its object, which is not there yet");
        assertEquals(0, listed("invisible/"));
        expect(ERRORID.OBJECT_NOT_FOUND, lib.ReadObject(name, new byte[10], 10, 0).errorValue);
        expect(ERRORID.INVALID_HANDLE, lib.ReadObject(created.objHandle, new byte[10], 10, 0).errorValue);
        CGObjectMetaDataFnValue pending = lib.GetObjectMetaData(created.objHandle);
        ok(pending.errorValue);
        assertEquals(Map.of("stage", "one", "late", "two"), asMap(pending.values));

        ok(lib.CloseObject(created.objHandle));
        assertTrue(exists(name));
        assertEquals(1, listed("invisible/"));
        assertArrayEquals(content, readInChunks(lib, name, 10_000));
        assertEquals(Map.of("stage", "one", "late", "two"), asMap(lib.GetObjectMetaData(name).values));
        expect(ERRORID.INVALID_HANDLE, lib.CloseObject(created.objHandle));
    }

    @Test
    void anEarlierVersionStaysUntilTheCommitReplacesIt() {
        String name = "versions/obj";
        byte[] first = data(2, 100);
        byte[] second = data(3, 2 * BLOCK);
        ok(lib.WriteObject(name, first, first.length, meta("v", "1")).errorValue);
        CCreateFnValue created = lib.CreateObject(name);
        ok(lib.WriteObject(created.objHandle, second, second.length));
        assertArrayEquals(first, readInChunks(lib, name, 64));
        ok(lib.CloseObject(created.objHandle));
        assertArrayEquals(second, readInChunks(lib, name, 4096));
        assertEquals(Map.of(), asMap(lib.GetObjectMetaData(name).values), "the session committed no metadata");
    }

    @Test
    void oneWriterPerObjectName() {
        CCreateFnValue first = lib.CreateObject("writers/obj");
        ok(first.errorValue);
        expect(ERRORID.HANDLE_IN_USE, lib.CreateObject("writers/obj").errorValue);
        expect(ERRORID.HANDLE_IN_USE, lib.CreateCachedObject("writers/obj").errorValue);
        ok(lib.CloseObject(first.objHandle));
        CCreateFnValue again = lib.CreateCachedObject("writers/obj");
        ok(again.errorValue);
        assertNotEquals(first.objHandle, again.objHandle);
        ok(lib.CloseObject(again.objHandle));
    }

    /** A cached object collects data by name or handle and appears at the close. */
    @Test
    void cachedObjectsCollectDataUntilTheClose() {
        String name = "cached/obj";
        byte[] a = data(4, BLOCK - 1);
        byte[] b = data(5, 2);
        byte[] c = data(6, BLOCK + 3);
        CWObjectHandleFnValue w1 = lib.WriteCachedObject(name, a, a.length, meta("x", "1"));
        ok(w1.errorValue);
        CWObjectHandleFnValue w2 = lib.WriteCachedObject(name, b, b.length, null);
        ok(w2.errorValue);
        assertEquals(w1.objHandle, w2.objHandle, "the second write by name finds the open session");
        ok(lib.UpdateCachedObjectByName(name, c, c.length, meta("y", "2")));
        ok(lib.UpdateCachedObjectByHandle(w1.objHandle, name, new byte[0], 0, meta("x", "3")));
        expect(ERRORID.INVALID_HANDLE, lib.UpdateCachedObjectByHandle(w1.objHandle, "cached/other", b, 1, null));
        assertFalse(exists(name));

        ok(lib.CloseObject(w1.objHandle));
        byte[] expected = new byte[a.length + b.length + c.length];
        System.arraycopy(a, 0, expected, 0, a.length);
        System.arraycopy(b, 0, expected, a.length, b.length);
        System.arraycopy(c, 0, expected, a.length + b.length, c.length);
        assertArrayEquals(expected, readInChunks(lib, name, 5000));
        assertEquals(Map.of("x", "3", "y", "2"), asMap(lib.GetObjectMetaData(name).values));
        expect(ERRORID.OBJECT_NOT_FOUND, lib.UpdateCachedObjectByName(name, b, 1, null));
    }

    @Test
    void discardedSessionsLeaveNothing() {
        CWObjectHandleFnValue cached = lib.WriteCachedObject("discard/cached", data(7, BLOCK * 2), BLOCK * 2, null);
        ok(lib.DeleteCachedObjectByName("discard/cached"));
        expect(ERRORID.INVALID_HANDLE, lib.CloseObject(cached.objHandle));
        expect(ERRORID.OBJECT_NOT_FOUND, lib.DeleteCachedObjectByName("discard/cached"));

        CCreateFnValue created = lib.CreateObject("discard/created");
        ok(lib.WriteObject(created.objHandle, data(8, 10), 10));
        ok(lib.DeleteObjectByHandle(created.objHandle));
        expect(ERRORID.INVALID_HANDLE, lib.CloseObject(created.objHandle));
        assertEquals(0, listed("discard/"));
        ok(lib.CreateObject("discard/created").errorValue); // the name is free again
    }

    @Test
    void readSessionsStayOnTheVersionTheyOpened() {
        String name = "pinned/obj";
        ok(lib.WriteObject(name, data(9, 500), 500, meta("m", "1")).errorValue);
        CCreateFnValue opened = lib.OpenObject(name);
        ok(opened.errorValue);

        // The holder's own metadata change keeps its session usable...
        ok(lib.SetObjectMetaData(opened.objHandle, "n", "2"));
        byte[] buf = new byte[500];
        ok(lib.ReadObject(opened.objHandle, buf, 500, 0).errorValue);
        CRObjectByNameFnValue withMeta = lib.ReadObjectByHandle(opened.objHandle, buf, 0, 1, null);
        assertEquals(Map.of("m", "1", "n", "2"), asMap(withMeta.values));

        // ...a new version written under it does not mix in.
        ok(lib.WriteObject(name, data(10, 500), 500, null).errorValue);
        expect(ERRORID.PRECONDITION_FAILED, lib.ReadObject(opened.objHandle, buf, 500, 0).errorValue);
        ok(lib.CloseObject(opened.objHandle));
        expect(ERRORID.OBJECT_NOT_FOUND, lib.OpenObject("pinned/missing").errorValue);
    }

    @Test
    void deletingByHandleAndByName() {
        ok(lib.WriteObject("del/a", data(11, 10), 10, null).errorValue);
        ok(lib.WriteObject("del/b", data(12, 10), 10, null).errorValue);
        ok(lib.WriteObject("del/c", data(13, 10), 10, null).errorValue);
        CCreateFnValue opened = lib.OpenObject("del/a");
        ok(lib.DeleteObjectByHandle(opened.objHandle));
        assertFalse(exists("del/a"));
        expect(ERRORID.INVALID_HANDLE, lib.CloseObject(opened.objHandle));

        ok(lib.DeleteObjectByName("del/b"));
        expect(ERRORID.OBJECT_NOT_FOUND, lib.DeleteObjectByName("del/b"));

        // Many handles: all are tried, the first failure is answered.
        expect(ERRORID.OBJECT_NOT_FOUND, lib.DeleteObjectByHandle(new String[] {"del/missing", "del/c"}));
        assertFalse(exists("del/c"));
        ok(lib.DeleteObjectByHandle(new String[0]));
        expect(ERRORID.INVALID_ARGUMENT, lib.DeleteObjectByHandle((String[]) null));
        assertEquals(0, listed("del/"));
        assertEquals(Arrays.asList(), Arrays.asList(lib.GetObjectSubList("del/").metaDat));
    }
}
