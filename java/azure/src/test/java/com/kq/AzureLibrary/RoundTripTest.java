package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.ERRORID;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.extension.ExtendWith;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

import java.util.Arrays;

import static com.kq.AzureLibrary.TestSupport.data;
import static com.kq.AzureLibrary.TestSupport.expect;
import static com.kq.AzureLibrary.TestSupport.meta;
import static com.kq.AzureLibrary.TestSupport.ok;
import static com.kq.AzureLibrary.TestSupport.readInChunks;
import static com.kq.AzureLibrary.TestSupport.writeInChunks;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;

/** Data written through every write path comes back byte for byte through every read path. */
@ExtendWith(AzuriteExtension.class)
class RoundTripTest {
    private static final int BLOCK = 64 * 1024;
    private static KQAzurePlugInLibrary lib;

    @BeforeAll
    static void setUp(AzuriteProcess azurite) {
        lib = TestSupport.library(azurite, "roundtrip", "BlockSize=" + BLOCK);
    }

    @AfterAll
    static void tearDown() {
        ok(lib.AzureDeInit());
    }

    /** Sizes around the block size, each written in chunks that do and do not divide it. */
    @ParameterizedTest(name = "{0} bytes in chunks of {1}")
    @CsvSource({
            "0, 1000",
            "1, 1000",
            "65535, 65535",
            "65536, 65536",
            "65537, 65536",
            "65537, 1000",
            "131071, 70000",
            "131072, 131072",
            "131073, 200000",
            "196613, 4096",
    })
    void sessionWriteReadsBackExactly(int size, int chunk) {
        String name = "session/" + size + "-" + chunk;
        byte[] content = data(size * 31L + chunk, size);
        writeInChunks(lib, name, content, chunk);

        assertArrayEquals(content, readInChunks(lib, name, 7777));
        byte[] whole = new byte[size + 10];
        CRObjectByNameFnValue byName = lib.ReadObjectByName(name, whole, 0, whole.length, null);
        ok(byName.errorValue);
        assertEquals(size, byName.bytesRead);
        assertArrayEquals(content, Arrays.copyOf(whole, size));
    }

    @Test
    void largeObjectAcrossManyDefaultBlocks(AzuriteProcess azurite) {
        KQAzurePlugInLibrary big = TestSupport.library(azurite, "large", "");
        try {
            int size = 64 * 1024 * 1024 + 1;
            byte[] content = data(64, size);
            writeInChunks(big, "large/object", content, 3 * 1024 * 1024 + 7);
            assertArrayEquals(content, readInChunks(big, "large/object", 8 * 1024 * 1024));
        } finally {
            ok(big.AzureDeInit());
        }
    }

    @Test
    void oneShotWritesUploadOnlyTheGivenSizeWithMetadata() {
        byte[] array = data(5, 1000);
        CWObjectHandleFnValue written = lib.WriteObject("oneshot/part", array, 600, meta("kind", "part"));
        ok(written.errorValue);
        assertEquals("oneshot/part", written.objHandle, "a one-shot write answers the object's name");
        assertArrayEquals(Arrays.copyOf(array, 600), readInChunks(lib, "oneshot/part", 4096));

        ok(lib.WriteObject("oneshot/empty", new byte[0], 0, meta()).errorValue);
        ok(lib.WriteObject("oneshot/null-data", null, 0));
        assertArrayEquals(new byte[0], readInChunks(lib, "oneshot/empty", 16));
        assertArrayEquals(new byte[0], readInChunks(lib, "oneshot/null-data", 16));

        CWObjectHandleFnValue flagged = lib.WriteObject("oneshot/flag", array, 10, meta("a", "1"), -1L);
        ok(flagged.errorValue);
        CGetObjectMetaData flag = lib.GetObjectMetaData("oneshot/flag", "objFlag");
        ok(flag.errorValue);
        assertEquals("18446744073709551615", flag.value, "the flag is kept unsigned");
    }

    @Test
    void updateReplacesAnExistingObjectOnly() {
        ok(lib.WriteObject("update/target", data(1, 100), 100, meta("old", "1")).errorValue);
        byte[] fresh = data(2, 50);
        CCreateFnValue updated = lib.UpdateObject("update/target", "", fresh, 50, meta("new", "2"));
        ok(updated.errorValue);
        assertEquals("update/target", updated.objHandle);
        assertArrayEquals(fresh, readInChunks(lib, "update/target", 64));
        CGObjectMetaDataFnValue md = lib.GetObjectMetaData("update/target");
        assertEquals(java.util.Map.of("new", "2"), TestSupport.asMap(md.values), "metadata is replaced, not merged");

        expect(ERRORID.OBJECT_NOT_FOUND, lib.UpdateObject("update/missing", "", fresh, 50, null).errorValue);
        assertEquals(false, lib.IsObjectExist("update/missing").isExist, "an update creates nothing");
        expect(ERRORID.INVALID_HANDLE,
                lib.UpdateObject("update/target", "update/other", fresh, 50, null, 7L).errorValue);
        ok(lib.UpdateObject("update/target", "update/target", fresh, 10, null, 7L).errorValue);
        assertEquals("7", lib.GetObjectMetaData("update/target", "objFlag").value);
    }

    /** Reads at and around the end, through a read session and by name: both paths answer alike. */
    @Test
    void rangedReadsAtTheEnd() {
        byte[] content = data(9, 1000);
        ok(lib.WriteObject("ranges/obj", content, 1000, null).errorValue);
        CCreateFnValue opened = lib.OpenObject("ranges/obj");
        ok(opened.errorValue);
        for (String target : new String[] {opened.objHandle, "ranges/obj"}) {
            byte[] buf = new byte[300];
            Arrays.fill(buf, (byte) 0x55);
            CReadObjectFnValue tail = lib.ReadObject(target, buf, 300, 900);
            ok(tail.errorValue);
            assertEquals(100, tail.sizeRead);
            assertArrayEquals(Arrays.copyOfRange(content, 900, 1000), Arrays.copyOf(buf, 100));
            assertEquals(0x55, buf[100], "bytes past the read are left alone");

            CReadObjectFnValue atEnd = lib.ReadObject(target, buf, 300, 1000);
            ok(atEnd.errorValue);
            assertEquals(0, atEnd.sizeRead);
            expect(ERRORID.OFFSET_OUT_OF_RANGE, lib.ReadObject(target, buf, 300, 1001).errorValue);

            CRObjectByNameFnValue middle = lib.ReadObjectByHandle(target, buf, 10, 5, null);
            ok(middle.errorValue);
            assertEquals(5, middle.bytesRead);
            assertArrayEquals(Arrays.copyOfRange(content, 10, 15), Arrays.copyOf(buf, 5));

            CReadObjectFnValue none = lib.ReadObject(target, buf, 0, 10);
            ok(none.errorValue);
            assertEquals(0, none.sizeRead);
        }
        ok(lib.CloseObject(opened.objHandle));
    }
}
