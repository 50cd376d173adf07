package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.CErrorValue;
import com.kq.KQCloudPluginInterface.ERRORID;

import java.util.Random;
import java.util.UUID;
import java.util.concurrent.atomic.AtomicInteger;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;

/** Shared helpers of the library tests. */
final class TestSupport {
    private static final AtomicInteger CONTAINERS = new AtomicInteger();

    private TestSupport() {
    }

    /** A container name no other test uses. */
    static String uniqueContainer(String purpose) {
        return ("t-" + purpose + "-" + CONTAINERS.incrementAndGet() + "-"
                + UUID.randomUUID().toString().substring(0, 8)).toLowerCase();
    }

    /** A library initialised on Azurite with its own container and the given extra configuration items. */
    static KQAzurePlugInLibrary library(AzuriteProcess azurite, String purpose, String extraItems) {
        KQAzurePlugInLibrary lib = new KQAzurePlugInLibrary("/opt/kq");
        String config = azurite.connectionString() + "Container=" + uniqueContainer(purpose) + ";" + extraItems;
        expect(ERRORID.SUCCESS, lib.AzureInit(config, "/opt/kq"));
        return lib;
    }

    static void expect(ERRORID expected, CErrorValue actual) {
        assertNotNull(actual, "no error value");
        assertEquals(expected, actual.getErrorID());
        assertEquals(expected.ordinal(), actual.getOrdinalValue());
    }

    static void ok(CErrorValue actual) {
        expect(ERRORID.SUCCESS, actual);
    }

    /** Reproducible bytes: the same seed and size give the same data. */
    static byte[] data(long seed, int size) {
        byte[] out = new byte[size];
        new Random(seed).nextBytes(out);
        return out;
    }

    static CPluginMetaData[] meta(String... namesAndValues) {
        CPluginMetaData[] out = new CPluginMetaData[namesAndValues.length / 2];
        for (int i = 0; i < out.length; i++) {
            out[i] = new CPluginMetaData(namesAndValues[2 * i], namesAndValues[2 * i + 1]);
        }
        return out;
    }

    static java.util.Map<String, String> asMap(CPluginMetaData[] entries) {
        java.util.Map<String, String> out = new java.util.TreeMap<>();
        for (CPluginMetaData e : entries) {
            out.put(e.szPropertyName, e.val.szProperty);
        }
        return out;
    }

    /** Writes through a write session in chunks of {@code chunk} bytes and commits it. */
    static void writeInChunks(KQAzurePlugInLibrary lib, String name, byte[] content, int chunk) {
        CCreateFnValue created = lib.CreateObject(name);
        ok(created.errorValue);
        for (int off = 0; off < content.length; off += chunk) {
            int n = Math.min(chunk, content.length - off);
            byte[] piece = java.util.Arrays.copyOfRange(content, off, off + n);
            ok(lib.WriteObject(created.objHandle, piece, n));
        }
        ok(lib.CloseObject(created.objHandle));
    }

    /** Reads a whole object through a read session in chunks of {@code chunk} bytes. */
    static byte[] readInChunks(KQAzurePlugInLibrary lib, String name, int chunk) {
        CCreateFnValue opened = lib.OpenObject(name);
        ok(opened.errorValue);
        java.io.ByteArrayOutputStream out = new java.io.ByteArrayOutputStream();
        byte[] buf = new byte[chunk];
        long offset = 0;
        while (true) {
            CReadObjectFnValue r = lib.ReadObject(opened.objHandle, buf, chunk, offset);
            ok(r.errorValue);
            if (r.sizeRead == 0) {
                break;
            }
            out.write(buf, 0, (int) r.sizeRead);
            offset += r.sizeRead;
        }
        ok(lib.CloseObject(opened.objHandle));
        return out.toByteArray();
    }
}
