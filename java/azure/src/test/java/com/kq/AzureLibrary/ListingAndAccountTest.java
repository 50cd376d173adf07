package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.ERRORID;
import com.kq.plugin.model.CArrayOfString;
import com.kq.plugin.model.CInt;
import com.kq.plugin.model.CString;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.extension.ExtendWith;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;

import static com.kq.AzureLibrary.TestSupport.asMap;
import static com.kq.AzureLibrary.TestSupport.data;
import static com.kq.AzureLibrary.TestSupport.expect;
import static com.kq.AzureLibrary.TestSupport.meta;
import static com.kq.AzureLibrary.TestSupport.ok;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

/** Listings by prefix, archive sets, sizes, and the account-level questions. */
@ExtendWith(AzuriteExtension.class)
class ListingAndAccountTest {
    private static final Map<String, Integer> OBJECTS = Map.of(
            "set1/a", 10, "set1/b", 20, "set1/sub/c", 30, "set1x", 40, "set2/d", 50, "top", 0);
    private static AzuriteProcess azurite;
    private static KQAzurePlugInLibrary lib;
    private static String container;

    @BeforeAll
    static void setUp(AzuriteProcess shared) {
        azurite = shared;
        lib = TestSupport.library(shared, "listing", "");
        container = lib.GetContainerName().accountName;
        OBJECTS.forEach((name, size) ->
                ok(lib.WriteObject(name, data(size, size), size, meta("name", name)).errorValue));
        CCreateFnValue pending = lib.CreateObject("set1/pending"); // never committed: never listed
        ok(lib.WriteObject(pending.objHandle, data(1, 5), 5));
    }

    @AfterAll
    static void tearDown() {
        ok(lib.AzureDeInit());
    }

    @ParameterizedTest(name = "prefix \"{0}\"")
    @CsvSource(value = {
            "'' | set1/a,set1/b,set1/sub/c,set1x,set2/d,top",
            "set1/ | set1/a,set1/b,set1/sub/c",
            "set1 | set1/a,set1/b,set1/sub/c,set1x",
            "set1/sub/ | set1/sub/c",
            "set2/d | set2/d",
            "nothing | ''",
    }, delimiter = '|')
    void subListHoldsTheCommittedObjectsUnderThePrefixWithMetadata(String prefix, String expected) {
        CRetGetSubMetaDataList r = lib.GetObjectSubList(prefix);
        ok(r.errorValue);
        Map<String, Map<String, String>> got = new TreeMap<>();
        for (CObjectSubListElement e : r.metaDat) {
            got.put(e.szFileName, asMap(e.metaDat));
        }
        Map<String, Map<String, String>> want = new TreeMap<>();
        for (String name : expected.isEmpty() ? new String[0] : expected.split(",")) {
            want.put(name, Map.of("name", name));
        }
        assertEquals(want, got);
    }

    @Test
    void archiveSetsAreTheTopLevelFolders() {
        KQListContainers sets = lib.GetArchiveSet();
        ok(sets.errorValue);
        assertEquals(List.of("set1", "set2"), Arrays.stream(sets.containers).map(c -> c.containerName).toList());
    }

    @Test
    void storageKeysJoinSetAndName() {
        String[][] cases = {
                {"set1", "a", "set1/a"},
                {"set1/", "/a", "set1/a"},
                {"\\set1\\", "dir\\file", "set1/dir/file"},
                {"", "alone", "alone"},
        };
        for (String[] c : cases) {
            CString key = lib.getStorageKey(c[0], c[1]);
            ok(key.errorValue);
            assertEquals(c[2], key.value);
        }
        expect(ERRORID.INVALID_NAME, lib.getStorageKey("set", "").errorValue);
        expect(ERRORID.INVALID_NAME, lib.getStorageKey("set", "x".repeat(1024)).errorValue);
        CString update = lib.updateStorageKey();
        expect(ERRORID.NOT_SUPPORTED, update.errorValue);
    }

    @Test
    void sizesCountCommittedBytes() {
        int expected = OBJECTS.values().stream().mapToInt(Integer::intValue).sum();
        CGetAccountSizeValue size = lib.GetAllObjectsSize();
        ok(size.errorValue);
        assertEquals(expected, size.size);

        CGetAccountInfoFnValue info = lib.GetAccountInfo();
        ok(info.errorValue);
        assertEquals(StorageConfig.DEV_ACCOUNT, info.accountIndentity);
        assertTrue(info.accountType.contains("/"), info.accountType);
        assertEquals(StorageConfig.DEV_ACCOUNT + "/" + container, info.displayName);
        assertEquals("", info.emailAddress);
        assertEquals(expected, info.usedSizeInByteTotal);
        assertEquals(KQAzurePlugInLibrary.ACCOUNT_CAPACITY_BYTES - expected, info.remainedSizeInByteTotal);
    }

    @Test
    void containersAndRegions() {
        KQListContainers all = lib.GetListContainers();
        ok(all.errorValue);
        assertTrue(Arrays.stream(all.containers).anyMatch(c -> c.containerName.equals(container)));

        assertTrue(lib.IsValidContainer(container).isExist);
        CIsObjectExistFnValue absent = lib.IsValidContainer("no-such-container-here");
        ok(absent.errorValue);
        assertFalse(absent.isExist);
        CIsObjectExistFnValue malformed = lib.IsValidContainer("Not_Valid");
        ok(malformed.errorValue);
        assertFalse(malformed.isExist);

        KQListRegions regions = lib.GetRegions();
        ok(regions.errorValue);
        assertEquals("primary", regions.regionsList[0]);
        CCreateFnValue region = lib.GetBucketRegion("");
        ok(region.errorValue);
        assertEquals("primary", region.objHandle);
        assertEquals("primary", lib.GetBucketRegion(container).objHandle);
        expect(ERRORID.CONTAINER_NOT_FOUND, lib.GetBucketRegion("no-such-container-here").errorValue);
    }

    @Test
    void accountNamesAndIdentity() {
        String url = "http://127.0.0.1:" + azurite.port + "/" + StorageConfig.DEV_ACCOUNT;
        assertEquals(url, lib.GetUniqueAccountName().accountName);
        assertEquals(StorageConfig.DEV_ACCOUNT, lib.GetOwnerName().accountName);
        CArrayOfString servers = lib.getServerNameList();
        ok(servers.errorValue);
        assertEquals(List.of("127.0.0.1"), List.of(servers.arrayOfString));

        String[][] same = {
                {"", url},
                {url + "/", "DEVSTOREACCOUNT1"},
                {azurite.connectionString(), ""},
                {"", StorageConfig.DEV_ACCOUNT},
        };
        for (String[] pair : same) {
            CIsObjectExistFnValue r = lib.IsSameAccount(pair[0], pair[1]);
            ok(r.errorValue);
            assertTrue(r.isExist, Arrays.toString(pair));
        }
        String[][] different = {
                {"", "otheraccount"},
                {"https://other.blob.core.windows.net", ""},
                {"http://127.0.0.1:1/" + StorageConfig.DEV_ACCOUNT, url},
        };
        for (String[] pair : different) {
            CIsObjectExistFnValue r = lib.IsSameAccount(pair[0], pair[1]);
            ok(r.errorValue);
            assertFalse(r.isExist, Arrays.toString(pair));
        }
        expect(ERRORID.INVALID_CONNECTION_STRING, lib.IsSameAccount("AccountName=a;garbage", "").errorValue);
    }

    @Test
    void backupReadinessConnectivityAndPaths() {
        ok(lib.CheckConnectivity());
        CInt can = lib.canBackup();
        ok(can.errorValue);
        assertEquals(1, can.value);
        CIsObjectExistFnValue path = lib.IsObjectPathSupported("set1/deep/", 100);
        ok(path.errorValue);
        assertTrue(path.isExist);
        assertFalse(lib.IsObjectPathSupported("x".repeat(1000), 25).isExist);
        assertFalse(lib.IsObjectPathSupported("a/".repeat(254) + "b", 0).isExist);
        assertTrue(lib.IsObjectPathSupported("ünïcödé/name", 0).isExist);
    }

    @Test
    void jobInfoIsKeptOnTheContainer() {
        KQAzurePlugInLibrary jobs = TestSupport.library(azurite, "jobs", "");
        try {
            ok(jobs.addJobInfo(1, 2, 3, 4, 5, Long.MIN_VALUE)); // creates the container
            assertEquals("1,2,3,4,5," + Long.MIN_VALUE,
                    containerMetadata(jobs.GetContainerName().accountName).get(KQAzurePlugInLibrary.JOB_INFO_KEY));
            String name = jobs.GetContainerName().accountName;
            ok(jobs.addJobInfo(3, 4, 1, 2, 6, 5)); // the latest job replaces the earlier one
            Map<String, String> metadata = containerMetadata(name);
            assertEquals("3,4,1,2,6,5", metadata.get(KQAzurePlugInLibrary.JOB_INFO_KEY));
            assertTrue(metadata.containsKey(KQAzurePlugInLibrary.JOB_TIME_KEY));
        } finally {
            ok(jobs.AzureDeInit());
        }
    }

    private static Map<String, String> containerMetadata(String name) {
        StorageConnection c = StorageConnection.open(StorageConfig.parse(azurite.connectionString()));
        try {
            return c.service.getBlobContainerClient(name).getProperties().getMetadata();
        } finally {
            c.close();
        }
    }
}
