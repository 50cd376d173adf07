package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.CErrorValue;
import com.kq.KQCloudPluginInterface.ERRORID;
import com.kq.plugin.model.CInt;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.extension.ExtendWith;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;
import org.junit.jupiter.params.provider.ValueSource;

import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.function.Supplier;
import java.util.stream.Stream;

import static com.kq.AzureLibrary.TestSupport.data;
import static com.kq.AzureLibrary.TestSupport.expect;
import static com.kq.AzureLibrary.TestSupport.ok;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

/** Every failure is an answer with its own error identifier, never an exception. */
@ExtendWith(AzuriteExtension.class)
class ErrorTest {
    private static AzuriteProcess azurite;
    private static KQAzurePlugInLibrary lib;

    @BeforeAll
    static void setUp(AzuriteProcess shared) {
        azurite = shared;
        lib = TestSupport.library(shared, "errors", "BlockSize=1024");
        ok(lib.WriteObject("exists", data(1, 100), 100, null).errorValue);
    }

    @AfterAll
    static void tearDown() {
        ok(lib.AzureDeInit());
    }

    /** The error value of any result object. */
    static CErrorValue errorOf(Object result) throws ReflectiveOperationException {
        if (result instanceof CErrorValue e) {
            return e;
        }
        return (CErrorValue) result.getClass().getField("errorValue").get(result);
    }

    static List<Method> contractMethods() {
        List<Method> out = new ArrayList<>();
        for (Method m : KQAzurePlugInLibrary.class.getDeclaredMethods()) {
            if (Modifier.isPublic(m.getModifiers()) && !Modifier.isStatic(m.getModifiers())) {
                out.add(m);
            }
        }
        return out;
    }

    static Object[] nullArguments(Method m) {
        return Arrays.stream(m.getParameterTypes()).map(t -> t == long.class ? (Object) 0L
                : t == int.class ? (Object) 0 : null).toArray();
    }

    @Test
    void anUninitialisedLibraryAnswersNotInitialisedEverywhere() throws ReflectiveOperationException {
        KQAzurePlugInLibrary fresh = new KQAzurePlugInLibrary(null);
        int checked = 0;
        for (Method m : contractMethods()) {
            if (m.getName().equals("AzureInit") || m.getName().equals("AzureDeInit")) {
                continue;
            }
            Object result = m.invoke(fresh, nullArguments(m)); // an exception here fails the test
            if (m.getReturnType() == long.class) {
                continue;
            }
            ERRORID id = errorOf(result).getErrorID();
            assertTrue(id == ERRORID.NOT_INITIALIZED || id == ERRORID.INVALID_ARGUMENT, m + " gave " + id);
            checked++;
        }
        assertTrue(checked > 40, "every method of the contract is reached: " + checked);
        ok(fresh.AzureDeInit());
    }

    @Test
    void nullReferencesAreRefusedAsInvalidArguments() throws ReflectiveOperationException {
        for (Method m : contractMethods()) {
            boolean takesReference = Arrays.stream(m.getParameterTypes()).anyMatch(t -> !t.isPrimitive());
            if (!takesReference) {
                continue;
            }
            Object result = m.invoke(lib, nullArguments(m));
            assertNotNull(result, m.toString());
            expect(ERRORID.INVALID_ARGUMENT, errorOf(result));
        }
    }

    static Stream<Arguments> badInput() {
        byte[] ten = new byte[10];
        String write = lib.CreateObject("bad-input/session").objHandle;
        return Stream.of(
                Arguments.of("negative write size", ERRORID.INVALID_ARGUMENT,
                        (Supplier<CErrorValue>) () -> lib.WriteObject(write, ten, -1)),
                Arguments.of("write size beyond the array", ERRORID.SIZE_MISMATCH,
                        (Supplier<CErrorValue>) () -> lib.WriteObject(write, ten, 11)),
                Arguments.of("null data with a size", ERRORID.INVALID_ARGUMENT,
                        (Supplier<CErrorValue>) () -> lib.WriteObject(write, null, 1)),
                Arguments.of("size above 4 GiB with a short array", ERRORID.SIZE_MISMATCH,
                        (Supplier<CErrorValue>) () -> lib.WriteObject("x", ten, 4294967306L, null).errorValue),
                Arguments.of("read size beyond the array", ERRORID.SIZE_MISMATCH,
                        (Supplier<CErrorValue>) () -> lib.ReadObject("exists", ten, 11, 0).errorValue),
                Arguments.of("negative read size", ERRORID.INVALID_ARGUMENT,
                        (Supplier<CErrorValue>) () -> lib.ReadObject("exists", ten, -1, 0).errorValue),
                Arguments.of("negative offset", ERRORID.INVALID_ARGUMENT,
                        (Supplier<CErrorValue>) () -> lib.ReadObjectByName("exists", ten, -5, 1, null).errorValue),
                Arguments.of("null read buffer", ERRORID.INVALID_ARGUMENT,
                        (Supplier<CErrorValue>) () -> lib.ReadObjectByHandle("exists", null, 0, 0, null).errorValue),
                Arguments.of("empty object name", ERRORID.INVALID_NAME,
                        (Supplier<CErrorValue>) () -> lib.CreateObject("").errorValue),
                Arguments.of("name ending in a slash", ERRORID.INVALID_NAME,
                        (Supplier<CErrorValue>) () -> lib.WriteObject("folder/", ten, 1)),
                Arguments.of("name too long", ERRORID.INVALID_NAME,
                        (Supplier<CErrorValue>) () -> lib.OpenObject("n".repeat(1025)).errorValue),
                Arguments.of("negative extra path length", ERRORID.INVALID_ARGUMENT,
                        (Supplier<CErrorValue>) () -> lib.IsObjectPathSupported("a", -1).errorValue),
                Arguments.of("container name Azure refuses", ERRORID.INVALID_NAME,
                        (Supplier<CErrorValue>) () -> lib.GetBucketRegion("No_Such").errorValue));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("badInput")
    void badInputIsRefusedBeforeAnyRequest(String what, ERRORID expected, Supplier<CErrorValue> call) {
        expect(expected, call.get());
    }

    @Test
    void badHandles() {
        String dead = KQAzurePlugInLibrary.HANDLE_PREFIX + "00000000000000000000000000000000";
        byte[] buf = new byte[4];
        expect(ERRORID.INVALID_HANDLE, lib.CloseObject(dead));
        expect(ERRORID.INVALID_HANDLE, lib.CloseObject("exists"));
        expect(ERRORID.INVALID_HANDLE, lib.WriteObject(dead, buf, 4));
        expect(ERRORID.INVALID_HANDLE, lib.ReadObject(dead, buf, 4, 0).errorValue);
        expect(ERRORID.INVALID_HANDLE, lib.ReadObjectByHandle(dead, buf, 0, 4, null).errorValue);
        expect(ERRORID.INVALID_HANDLE, lib.UpdateCachedObjectByHandle(dead, "", buf, 4, null));
        expect(ERRORID.INVALID_HANDLE, lib.UpdateCachedObjectByHandle("exists", "", buf, 4, null));
        expect(ERRORID.INVALID_HANDLE, lib.DeleteObjectByHandle(dead));
        expect(ERRORID.INVALID_HANDLE, lib.GetObjectMetaData(dead).errorValue);
        expect(ERRORID.INVALID_HANDLE, lib.IsObjectExist(dead).errorValue);

        CCreateFnValue reader = lib.OpenObject("exists");
        expect(ERRORID.INVALID_HANDLE, lib.WriteObject(reader.objHandle, buf, 4));
        expect(ERRORID.INVALID_HANDLE, lib.UpdateCachedObjectByHandle(reader.objHandle, "", buf, 4, null));
        ok(lib.CloseObject(reader.objHandle));
        expect(ERRORID.INVALID_HANDLE, lib.CloseObject(reader.objHandle));
        assertEquals(0, lib.IsObjectPathSupported(dead, 0).isExist ? 1 : 0, "handle-shaped names are reserved");
    }

    @Test
    void missingObjects() {
        byte[] buf = new byte[4];
        expect(ERRORID.OBJECT_NOT_FOUND, lib.OpenObject("missing").errorValue);
        expect(ERRORID.OBJECT_NOT_FOUND, lib.ReadObject("missing", buf, 4, 0).errorValue);
        expect(ERRORID.OBJECT_NOT_FOUND, lib.ReadObject("missing", buf, 0, 0).errorValue);
        expect(ERRORID.OBJECT_NOT_FOUND, lib.ReadObjectByName("missing", buf, 0, 4, null).errorValue);
        expect(ERRORID.OBJECT_NOT_FOUND, lib.GetObjectMetaData("missing").errorValue);
        expect(ERRORID.OBJECT_NOT_FOUND, lib.DeleteObjectByName("missing"));
        CIsObjectExistFnValue exists = lib.IsObjectExist("missing");
        ok(exists.errorValue);
        assertFalse(exists.isExist);
    }

    @Test
    void aMissingContainerIsReportedByReadsAndCreatedByWrites(AzuriteProcess azurite) {
        KQAzurePlugInLibrary empty = TestSupport.library(azurite, "nocontainer", "");
        try {
            byte[] buf = new byte[4];
            expect(ERRORID.CONTAINER_NOT_FOUND, empty.ReadObject("any", buf, 4, 0).errorValue);
            expect(ERRORID.CONTAINER_NOT_FOUND, empty.OpenObject("any").errorValue);
            expect(ERRORID.CONTAINER_NOT_FOUND, empty.GetObjectSubList("").errorValue);
            expect(ERRORID.CONTAINER_NOT_FOUND, empty.GetArchiveSet().errorValue);
            expect(ERRORID.CONTAINER_NOT_FOUND, empty.GetBucketRegion("").errorValue);
            expect(ERRORID.CONTAINER_NOT_FOUND, empty.DeleteContainer());
            CGetAccountSizeValue size = empty.GetAllObjectsSize();
            ok(size.errorValue);
            assertEquals(0, size.size, "nothing stored yet");
            assertFalse(empty.IsValidContainer(empty.GetContainerName().accountName).isExist);

            CCreateFnValue session = empty.CreateObject("first");
            ok(empty.WriteObject(session.objHandle, data(2, 3000), 3000)); // stages into a missing container
            ok(empty.CloseObject(session.objHandle));
            assertTrue(empty.IsValidContainer(empty.GetContainerName().accountName).isExist);
            ok(empty.DeleteContainer());
            ok(empty.WriteObject("again", data(3, 10), 10)); // a one-shot write creates it again
            assertEquals(1, empty.GetObjectSubList("").metaDat.length);
        } finally {
            ok(empty.AzureDeInit());
        }
    }

    @ParameterizedTest
    @ValueSource(strings = {"garbage", "AccountName=a;Container=UPPER", "Container=x", "BlockSize=0",
            "BlockSize=lots", "MaxTries=99", "UseDevelopmentStorage=false",
            "DefaultEndpointsProtocol=http;AccountName=a;AccountKey=not base64!;BlobEndpoint=notaurl"})
    void badConfigurationIsRefusedAndChangesNothing(String config) {
        KQAzurePlugInLibrary fresh = new KQAzurePlugInLibrary("");
        expect(ERRORID.INVALID_CONNECTION_STRING, fresh.AzureInit(config, ""));
        expect(ERRORID.NOT_INITIALIZED, fresh.GetContainerName().errorValue);
    }

    @Test
    void deInitEndsEverything() {
        KQAzurePlugInLibrary short_ = TestSupport.library(azurite, "deinit", "");
        CCreateFnValue session = short_.CreateObject("never");
        ok(short_.WriteObject(session.objHandle, data(4, 10), 10));
        ok(short_.AzureDeInit());
        expect(ERRORID.NOT_INITIALIZED, short_.CloseObject(session.objHandle));
        assertEquals(0, short_.openSessionCount());
        ok(short_.AzureDeInit());
    }

    /** A stopped service is a network error, and a session that could not stage its data commits nothing. */
    @Test
    void aStoppedServiceIsANetworkError() {
        AzuriteProcess own = AzuriteProcess.start(AzuriteProcess.freePort());
        KQAzurePlugInLibrary lost = TestSupport.library(own, "stopped", "MaxTries=1;BlockSize=1024");
        try {
            ok(lost.WriteObject("before", data(5, 10), 10));
            CCreateFnValue opened = lost.OpenObject("before");
            CCreateFnValue session = lost.CreateObject("during");
            ok(lost.WriteObject(session.objHandle, data(6, 1500), 1500)); // one block staged
            own.close();
            assertFalse(own.answers());

            byte[] buf = new byte[10];
            expect(ERRORID.NETWORK_ERROR, lost.WriteObject(session.objHandle, data(7, 1024), 1024));
            expect(ERRORID.NETWORK_ERROR, lost.WriteObject(session.objHandle, data(7, 10), 10)); // spoilt
            expect(ERRORID.NETWORK_ERROR, lost.CloseObject(session.objHandle));
            expect(ERRORID.INVALID_HANDLE, lost.CloseObject(session.objHandle));
            expect(ERRORID.NETWORK_ERROR, lost.ReadObject(opened.objHandle, buf, 10, 0).errorValue);
            expect(ERRORID.NETWORK_ERROR, lost.ReadObject("before", buf, 10, 0).errorValue);
            expect(ERRORID.NETWORK_ERROR, lost.WriteObject("after", buf, 10));
            expect(ERRORID.NETWORK_ERROR, lost.CheckConnectivity());
            expect(ERRORID.NETWORK_ERROR, lost.GetObjectSubList("").errorValue);
            CInt can = lost.canBackup();
            expect(ERRORID.NETWORK_ERROR, can.errorValue);
            assertEquals(0, can.value);
        } finally {
            own.close();
            ok(lost.AzureDeInit());
        }
    }

    @Test
    void objectActualSizeIsTheObjectSizeBitForBit() {
        for (long v : new long[] {0, 1, 4294967296L, Long.MAX_VALUE, -1L}) {
            assertEquals(v, lib.GetObjectActualSize(12345, v));
            assertEquals(v, new KQAzurePlugInLibrary(null).GetObjectActualSize(0, v));
        }
    }

    @Test
    void secretsNeverAppearInWhatTheLibraryTells() {
        String key = "c2VjcmV0LWtleS10aGF0LW11c3Qtbm90LWxlYWstYW55d2hlcmU=";
        String config = "DefaultEndpointsProtocol=http;AccountName=acct;AccountKey=" + key
                + ";BlobEndpoint=http://127.0.0.1:1/acct?sv=2020&sig=SECRETSIG;Container=kq-secret";
        StorageConfig parsed = StorageConfig.parse(config);
        String leaky = "failed for " + config + " and key " + key;
        String redacted = parsed.redact(leaky);
        assertFalse(redacted.contains(key) || redacted.contains("SECRETSIG"), redacted);
        assertFalse(parsed.toString().contains(key));

        KQAzurePlugInLibrary other = new KQAzurePlugInLibrary("");
        ok(other.AzureInit("DefaultEndpointsProtocol=http;AccountName=acct;AccountKey=" + key
                + ";BlobEndpoint=http://127.0.0.1:1/acct;Container=kq-secret", ""));
        for (Object answer : new Object[] {other.GetUniqueAccountName().accountName, other.GetOwnerName().accountName,
                other.GetContainerName().accountName, Arrays.toString(other.getServerNameList().arrayOfString)}) {
            assertFalse(String.valueOf(answer).contains(key), String.valueOf(answer));
        }
        ok(other.AzureDeInit());
    }

    @Test
    void namesWithControlCharactersAreRefused() {
        expect(ERRORID.INVALID_NAME, lib.WriteObject("bad\u0001name", new byte[1], 1));
        expect(ERRORID.INVALID_NAME, lib.WriteObject("back\\slash", new byte[1], 1));
    }
}
