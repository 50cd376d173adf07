package com.kq.AzureLibrary;

import static com.kq.AzureLibrary.StorageConfig.DEV_ACCOUNT;
import static com.kq.AzureLibrary.TestSupport.*;
import static com.kq.KQCloudPluginInterface.ERRORID.*;
import static org.junit.jupiter.api.Assertions.*;

import com.kq.KQCloudPluginInterface.ERRORID;
import java.io.ByteArrayOutputStream;
import java.lang.reflect.Method;
import java.util.*;
import java.util.concurrent.Callable;
import java.util.logging.*;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import org.junit.jupiter.api.*;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.*;

/** Listings, account questions, and every failure: an answer with its own error identifier, never an exception. */
class AccountAndErrorTest {
    private static final Map<String, Integer> OBJECTS =
            Map.of("set1/a", 10, "set1/b", 20, "set1/sub/c", 30, "set1x", 40, "set2/d", 50, "top", 0);
    private static final String DEAD = AzureStorageLibrary.HANDLE_PREFIX + "0".repeat(32);
    private static final Azurite AZURITE = Azurite.shared();
    private static final String URL = "http://127.0.0.1:" + AZURITE.port() + "/" + DEV_ACCOUNT;
    private static final KQAzurePlugInLibrary lib = library(AZURITE, "account", "");
    private static String reader;
    private static String writer;

    @BeforeAll
    static void setUp() {
        OBJECTS.forEach((name, size) -> ok(lib.WriteObject(name, data(size, size), size, meta("n", name)).errorValue));
        reader = lib.OpenObject("set1/a").objHandle;
        writer = lib.CreateObject("set1/open").objHandle; // never committed, never listed
    }

    @AfterAll
    static void tearDown() {
        ok(lib.AzureDeInit());
    }

    @ParameterizedTest(name = "prefix \"{0}\"")
    @CsvSource(
            value = {
                "'' | set1/a,set1/b,set1/sub/c,set1x,set2/d,top",
                "set1/ | set1/a,set1/b,set1/sub/c",
                "set1 | set1/a,set1/b,set1/sub/c,set1x",
                "set1/sub/ | set1/sub/c",
                "set2/d | set2/d",
                "nothing | ''"
            },
            delimiter = '|')
    void subListHoldsTheCommittedObjectsUnderThePrefixWithMetadata(String prefix, String expected) {
        Map<String, Map<String, String>> want = new TreeMap<>();
        Arrays.stream(expected.split(",")).filter(n -> !n.isEmpty()).forEach(n -> want.put(n, Map.of("n", n)));
        assertEquals(want, listed(lib, prefix));
    }

    @Test
    void archiveSetsStorageKeysAndAccount() {
        List<String> sets = Arrays.stream(lib.GetArchiveSet().containers)
                .map(c -> c.containerName)
                .collect(Collectors.toList());
        assertEquals(List.of("set1", "set2"), sets);
        assertEquals("s/d/f", lib.getStorageKey("\\s\\", "d\\f").value);
        long used = OBJECTS.values().stream().mapToLong(Integer::longValue).sum();
        CGetAccountInfoFnValue info = lib.GetAccountInfo();
        assertEquals(
                List.of(used, used, AccountQueries.ACCOUNT_CAPACITY_BYTES - used),
                List.of(lib.GetAllObjectsSize().size, info.usedSizeInByteTotal, info.remainedSizeInByteTotal));
        assertEquals(
                List.of(DEV_ACCOUNT, DEV_ACCOUNT + "/" + lib.GetContainerName().accountName, URL, DEV_ACCOUNT),
                List.of(
                        info.accountIndentity,
                        info.displayName,
                        lib.GetUniqueAccountName().accountName,
                        lib.GetOwnerName().accountName));
        assertTrue(info.accountType.contains("/") && lib.canBackup().value == 1, info.accountType);
    }

    static Stream<Arguments> accountPairs() {
        String azure = "https://acct.blob.core.windows.net";
        return Stream.of(
                Arguments.of("", URL, true),
                Arguments.of(URL + "/", "DEVSTOREACCOUNT1", true),
                Arguments.of("", "otheraccount", false),
                Arguments.of(AZURITE.connectionString(), " ", true),
                Arguments.of("http://127.0.0.1:1/" + DEV_ACCOUNT, URL, false), // same name, other endpoint
                Arguments.of("http://localhost:10000/acct/", "ACCT", true),
                Arguments.of("http://[::1]/acct", "acct", true),
                Arguments.of(azure + "//", "HTTPS://ACCT.blob.core.windows.net", true),
                Arguments.of(azure, "acct", true),
                Arguments.of(azure, "https://acct.blob.core.chinacloudapi.cn", false),
                Arguments.of("AccountName=acct;AccountKey=" + StorageConfig.DEV_KEY, azure, true),
                Arguments.of("AccountName=a;x", "", INVALID_CONNECTION_STRING),
                Arguments.of("http://bad host/acct", "acct", INVALID_ARGUMENT),
                Arguments.of(null, "", INVALID_ARGUMENT));
    }

    @ParameterizedTest(name = "[{index}] {0} / {1}")
    @MethodSource("accountPairs")
    void sameAccountEitherWayRound(String first, String second, Object expected) {
        for (CIsObjectExistFnValue r : List.of(lib.IsSameAccount(first, second), lib.IsSameAccount(second, first))) {
            assertEquals(expected, r.errorValue.getErrorID() == SUCCESS ? r.isExist : r.errorValue.getErrorID());
        }
    }

    @Test
    void supportedPathsAndJobInfo() {
        assertFalse(lib.IsObjectPathSupported("set1/deep/", 1015).isExist, "1025 characters in all");
        ok(lib.addJobInfo(3, 4, 1, 2, 6, Long.MIN_VALUE));
        StorageConnection c = StorageConnection.open(StorageConfig.parse(AZURITE.connectionString()));
        Map<String, String> stored = c.service
                .getBlobContainerClient(lib.GetContainerName().accountName)
                .getProperties()
                .getMetadata();
        c.close();
        assertEquals("3,4,1,2,6," + Long.MIN_VALUE, stored.get(AzureStorageLibrary.JOB_INFO_KEY), "as received");
    }

    static Stream<Arguments> failures() {
        byte[] b = new byte[10];
        return Stream.of( // first, as a refused configuration leaves the library and its sessions as they were
                row("malformed", INVALID_CONNECTION_STRING, () -> lib.AzureInit("garbage", "")),
                row("read session kept", SUCCESS, () -> lib.ReadObject(reader, b, 10, 0)),
                row("negative write size", INVALID_ARGUMENT, () -> lib.WriteObject(writer, b, -1)),
                row(
                        "null data an array could hold: no heap for it",
                        OUT_OF_MEMORY,
                        () -> lib.WriteObject(writer, null, 1)),
                row("null data no array can hold", INVALID_ARGUMENT, () -> lib.WriteObject(writer, null, 1L << 31)),
                row("write size beyond the array", SIZE_MISMATCH, () -> lib.WriteObject(writer, b, 11)),
                row("4 GiB + 10, short array", SIZE_MISMATCH, () -> lib.WriteObject("x", b, 4294967306L, null)),
                row("read size beyond the array", SIZE_MISMATCH, () -> lib.ReadObject("top", b, 11, 0)),
                row("negative offset", INVALID_ARGUMENT, () -> lib.ReadObjectByName("top", b, -5, 1, null)),
                row("null property value", INVALID_ARGUMENT, () -> lib.SetObjectMetaData("top", "a", null)),
                row("empty name", INVALID_NAME, () -> lib.CreateObject("")),
                row("name too long", INVALID_NAME, () -> lib.OpenObject("n".repeat(1025))),
                row("backslash", INVALID_NAME, () -> lib.WriteObject("back\\slash", b, 1)),
                row("container name Azure refuses", INVALID_NAME, () -> lib.GetBucketRegion("No_Such")),
                row("close an unknown handle", INVALID_HANDLE, () -> lib.CloseObject(DEAD)),
                row("close an object name", INVALID_HANDLE, () -> lib.CloseObject("top")),
                row("write a read session", INVALID_HANDLE, () -> lib.WriteObject(reader, b, 4)),
                row("read a write session", INVALID_HANDLE, () -> lib.ReadObjectByHandle(writer, b, 0, 4, null)),
                row("append to an object", INVALID_HANDLE, () -> lib.UpdateCachedObjectByHandle("top", "", b, 1, null)),
                row("open a missing object", OBJECT_NOT_FOUND, () -> lib.OpenObject("missing")),
                row("read 0 bytes of one", OBJECT_NOT_FOUND, () -> lib.ReadObject("missing", b, 0, 0)),
                row("delete it", OBJECT_NOT_FOUND, () -> lib.DeleteObjectByName("missing")),
                row("a missing container", CONTAINER_NOT_FOUND, () -> lib.GetBucketRegion("no-such-one")),
                row("key rotation", NOT_SUPPORTED, () -> lib.updateStorageKey()));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("failures")
    void eachFailureHasItsOwnIdentifier(String what, ERRORID expected, Callable<Object> call) throws Exception {
        expect(expected, errorOf(call.call()));
    }

    @Test
    void nullsAndAnUninitialisedLibraryAreAnswersNotExceptions() throws ReflectiveOperationException {
        KQAzurePlugInLibrary fresh = new KQAzurePlugInLibrary(null);
        int checked = 0;
        for (Method m : EntryClassTest.publicMethods()) {
            if (m.getName().startsWith("Azure")) {
                continue;
            }
            Object[] args = Arrays.stream(m.getParameterTypes())
                    .map(t -> t.isPrimitive() ? 0 : null)
                    .toArray();
            if (m.getReturnType() == long.class) { // GetObjectActualSize: the object size, bit for bit, always
                assertEquals(-1L, m.invoke(fresh, 5L, -1L));
                continue;
            }
            if (Arrays.asList(args).contains(null)) {
                expect(INVALID_ARGUMENT, errorOf(m.invoke(lib, args)));
            }
            ERRORID id = errorOf(m.invoke(fresh, args)).getErrorID();
            assertTrue(id == NOT_INITIALIZED || id == INVALID_ARGUMENT, m + " gave " + id);
            checked++;
        }
        assertTrue(checked > 40, "every method of the contract is reached: " + checked);
    }

    @Test
    void aMissingContainerIsReportedByReadsAndCreatedByWrites() {
        KQAzurePlugInLibrary empty = library(AZURITE, "nocontainer", "BlockSize=1024");
        for (Object r : new Object[] {
            empty.ReadObject("any", new byte[4], 4, 0),
            empty.OpenObject("any"),
            empty.GetObjectSubList(""),
            empty.GetArchiveSet(),
            empty.GetBucketRegion(""),
            empty.DeleteContainer()
        }) {
            expect(CONTAINER_NOT_FOUND, errorOf(r));
        }
        assertEquals(0, empty.GetAllObjectsSize().size, "nothing stored yet");
        writeInChunks(empty, "first", data(2, 3000), 3000); // stages blocks into the missing container
        assertTrue(empty.IsValidContainer(empty.GetContainerName().accountName).isExist);
        ok(empty.DeleteContainer());
        ok(empty.WriteObject("again", data(3, 10), 10)); // a one-shot write creates it again
        assertEquals(1, empty.GetObjectSubList("").metaDat.length);
        CCreateFnValue dropped = empty.CreateObject("never");
        ok(empty.AzureDeInit());
        expect(NOT_INITIALIZED, empty.CloseObject(dropped.objHandle));
        assertEquals(
                0, ((AzureStorageLibrary) empty.implementation()).openSessionCount(), "sessions end with the library");
    }

    @Test
    void aStoppedServiceIsANetworkError() {
        Azurite own = Azurite.start(Map.of());
        KQAzurePlugInLibrary lost = library(own, "stopped", "MaxTries=1;BlockSize=1024");
        try {
            CCreateFnValue session = lost.CreateObject("during");
            ok(lost.WriteObject(session.objHandle, data(6, 1500), 1500)); // one block on its way
            own.close();
            // Write-behind: the write may return before its block fails; the close answers the failure.
            ERRORID during =
                    lost.WriteObject(session.objHandle, data(7, 1024), 1024).getErrorID();
            assertTrue(during == SUCCESS || during == NETWORK_ERROR, during::toString);
            expect(NETWORK_ERROR, lost.CloseObject(session.objHandle));
            expect(INVALID_HANDLE, lost.CloseObject(session.objHandle));
            expect(NETWORK_ERROR, lost.OpenObject("any").errorValue);
            expect(NETWORK_ERROR, lost.canBackup().errorValue);
        } finally {
            own.close();
            ok(lost.AzureDeInit());
        }
    }

    @Test
    void secretsNeverAppearInAnswersOrLogLines() {
        String key = "c2VjcmV0LWtleS10aGF0LW11c3Qtbm90LWxlYWstYW55d2hlcmU=";
        String config = "AccountName=acct;AccountKey=" + key + ";BlobEndpoint=http://127.0.0.1:1/acct;MaxTries=1";
        ByteArrayOutputStream log = new ByteArrayOutputStream();
        StreamHandler capture = new StreamHandler(log, new SimpleFormatter());
        capture.setLevel(Level.ALL);
        Logger logger = Logger.getLogger("com.kq.AzureLibrary");
        logger.setLevel(Level.ALL);
        logger.addHandler(capture);
        KQAzurePlugInLibrary other = init(config);
        expect(NETWORK_ERROR, other.CheckConnectivity());
        logger.removeHandler(capture);
        logger.setLevel(null);
        capture.flush();
        assertTrue(log.toString().contains("NETWORK_ERROR"), "the failure is logged: " + log);
        assertFalse(log.toString().contains("KQ Azure library"), "the entry class loaded the library quietly: " + log);
        String told = String.join(
                "\n",
                log.toString(),
                other.GetUniqueAccountName().accountName,
                other.GetOwnerName().accountName,
                StorageConfig.parse(config).redact(config + key + "&sig=SECRETSIG"));
        ok(other.AzureDeInit());
        assertFalse(told.contains(key) || told.contains("SECRETSIG"), told);
    }
}
