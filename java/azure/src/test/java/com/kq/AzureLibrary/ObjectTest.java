package com.kq.AzureLibrary;

import static com.kq.AzureLibrary.TestSupport.*;
import static com.kq.KQCloudPluginInterface.ERRORID.*;
import static org.junit.jupiter.api.Assertions.*;

import java.util.*;
import java.util.stream.Collectors;
import java.util.stream.IntStream;
import org.junit.jupiter.api.*;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/** Data and metadata come back exactly as written, through every path, from any thread, only once committed. */
class ObjectTest {
    private static final int BLOCK = 16 * 1024;
    /** Names Azure forbids or folds (case twins, hyphen, ...), values it refuses, look-alikes of the encoding. */
    private static final CPluginMetaData[] AWKWARD = {
        new CPluginMetaData("size", "12"),
        new CPluginMetaData("Size", "upper-case twin"),
        new CPluginMetaData("SIZE", "third twin"),
        new CPluginMetaData("Content-Type", "hyphen"),
        new CPluginMetaData("1st", "leading digit"),
        new CPluginMetaData("with space", " leading and trailing blanks "),
        new CPluginMetaData("ünïcödé", "välüé ✓"),
        new CPluginMetaData("emoji\uD83D\uDE00", "\uD83D\uDE00"),
        new CPluginMetaData("", "empty name"),
        new CPluginMetaData("kq_lookalike", "kqb64:not really encoded"),
        new CPluginMetaData("kq_", ""),
        new CPluginMetaData("tab\tname", "line\nbreak"),
        new CPluginMetaData("_under", "ok"),
    };

    private static final KQAzurePlugInLibrary lib = library(Azurite.shared(), "objects", "BlockSize=" + BLOCK);

    @AfterAll
    static void tearDown() {
        ok(lib.AzureDeInit());
    }

    @ParameterizedTest(name = "{0} bytes in chunks of {1}")
    @CsvSource({
        "0, 1000",
        "1, 1000",
        "16383, 16383",
        "16384, 16384",
        "16385, 16384",
        "16385, 1000",
        "32767, 20000",
        "32768, 32768",
        "32769, 50000",
        "49157, 4096"
    })
    void sessionWritesReadBackExactly(int size, int chunk) {
        roundTrip(lib, "session/" + size + "-" + chunk, data(size * 31L + chunk, size), chunk, 7777);
    }

    @Test
    void largeObjectAcrossManyDefaultBlocks() {
        KQAzurePlugInLibrary big = library(Azurite.shared(), "large", "");
        roundTrip(big, "large", data(64, 64 * 1024 * 1024 + 1), 3 * 1024 * 1024 + 7, 8 * 1024 * 1024);
        ok(big.AzureDeInit());
    }

    @Test
    void oneShotWritesAndUpdatesReplaceTheWholeObject() {
        byte[] array = data(5, 1000);
        assertEquals("oneshot", lib.WriteObject("oneshot", array, 600, meta("old", "1"), -1L).objHandle, "its name");
        assertArrayEquals(Arrays.copyOf(array, 600), readInChunks(lib, "oneshot", 4096));
        assertEquals("18446744073709551615", lib.GetObjectMetaData("oneshot", "objFlag").value, "unsigned");
        assertEquals("oneshot", lib.UpdateObject("oneshot", "oneshot", array, 50, meta("new", "2"), 7L).objHandle);
        assertArrayEquals(Arrays.copyOf(array, 50), readInChunks(lib, "oneshot", 64));
        assertEquals(Map.of("new", "2", "objFlag", "7"), asMap(lib.GetObjectMetaData("oneshot").values));
        expect(INVALID_HANDLE, lib.UpdateObject("oneshot", "other", array, 5, null).errorValue);
        expect(OBJECT_NOT_FOUND, lib.UpdateObject("missing", "", array, 50, null).errorValue);
        assertFalse(exists(lib, "missing"), "an update creates nothing");
    }

    @Test
    void readsAtTheEndAnswerAlikeThroughASessionAndByName() {
        byte[] content = data(9, 1000);
        ok(lib.WriteObject("ranges", content, 1000, null).errorValue);
        CCreateFnValue opened = lib.OpenObject("ranges");
        for (String target : new String[] {opened.objHandle, "ranges"}) {
            byte[] buf = new byte[300];
            Arrays.fill(buf, (byte) 0x55);
            CReadObjectFnValue tail = lib.ReadObject(target, buf, 300, 900);
            assertEquals(100, tail.sizeRead);
            assertArrayEquals(Arrays.copyOfRange(content, 900, 1000), Arrays.copyOf(buf, 100));
            assertEquals(0x55, buf[100], "bytes past the read are left alone");
            CReadObjectFnValue atEnd = lib.ReadObject(target, buf, 300, 1000);
            ok(atEnd.errorValue);
            assertEquals(0, atEnd.sizeRead);
            expect(OFFSET_OUT_OF_RANGE, lib.ReadObject(target, buf, 300, 1001).errorValue);
            assertEquals(5, lib.ReadObjectByHandle(target, buf, 10, 5, null).bytesRead, "offset first, then size");
            assertArrayEquals(Arrays.copyOfRange(content, 10, 15), Arrays.copyOf(buf, 5));
        }
        ok(lib.CloseObject(opened.objHandle));
    }

    @Test
    void nothingIsVisibleBeforeTheClose() {
        byte[] earlier = data(2, 100);
        byte[] content = data(1, 3 * BLOCK + 5); // several staged blocks plus a rest
        ok(lib.WriteObject("visible/old", earlier, 100));
        CCreateFnValue created = lib.CreateObject("visible/new");
        CCreateFnValue replacing = lib.CreateObject("visible/old");
        // A write the heap had no room for leaves the session as it was: the next writes and the commit go on.
        expect(OUT_OF_MEMORY, lib.WriteObject(created.objHandle, null, BLOCK, meta("lost", "yes")).errorValue);
        ok(lib.WriteObject(created.objHandle, content, content.length, meta("stage", "one")).errorValue);
        ok(lib.SetObjectMetaData(created.objHandle, "late", "two"));
        ok(lib.WriteObject(replacing.objHandle, content, content.length));
        assertFalse(exists(lib, "visible/new"));
        expect(OBJECT_NOT_FOUND, lib.ReadObject("visible/new", new byte[10], 10, 0).errorValue);
        assertArrayEquals(earlier, readInChunks(lib, "visible/old", 64));
        Map<String, String> committed = Map.of("stage", "one", "late", "two");
        assertEquals(committed, asMap(lib.GetObjectMetaData(created.objHandle).values), "what the close commits");
        ok(lib.CloseObject(created.objHandle));
        ok(lib.CloseObject(replacing.objHandle));
        assertArrayEquals(content, readInChunks(lib, "visible/new", 10_000));
        assertArrayEquals(content, readInChunks(lib, "visible/old", 10_000));
        assertEquals(committed, asMap(lib.GetObjectMetaData("visible/new").values));
    }

    @Test
    void cachedObjectsCollectDataByNameOrHandleUntilTheClose() {
        byte[] all = data(4, 2 * BLOCK + 4);
        CWObjectHandleFnValue first = lib.WriteCachedObject("cached", all, BLOCK - 1, meta("x", "1"));
        byte[] second = Arrays.copyOfRange(all, BLOCK - 1, BLOCK + 1);
        assertEquals(first.objHandle, lib.WriteCachedObject("cached", second, 2, null).objHandle, "found by name");
        ok(lib.UpdateCachedObjectByName("cached", Arrays.copyOfRange(all, BLOCK + 1, all.length), BLOCK + 3, null));
        ok(lib.UpdateCachedObjectByHandle(first.objHandle, "cached", new byte[0], 0, meta("x", "3", "y", "2")));
        expect(INVALID_HANDLE, lib.UpdateCachedObjectByHandle(first.objHandle, "other", all, 1, null));
        ok(lib.CloseObject(first.objHandle));
        assertArrayEquals(all, readInChunks(lib, "cached", 5000));
        assertEquals(Map.of("x", "3", "y", "2"), asMap(lib.GetObjectMetaData("cached").values));
    }

    @Test
    void discardingAndDeleting() {
        long held = BufferPool.SHARED.used(); // may still fall as other tests' requests end
        CCreateFnValue partial = lib.CreateObject("del/partial");
        ok(lib.WriteObject(partial.objHandle, data(8, 100), 100)); // a block partly filled, nothing in flight
        ok(lib.DeleteObjectByHandle(partial.objHandle));
        assertTrue(BufferPool.SHARED.used() <= held, "a discarded session gives its buffer back");
        CWObjectHandleFnValue cached = lib.WriteCachedObject("del/cached", data(7, 2 * BLOCK), 2 * BLOCK, null);
        ok(lib.DeleteCachedObjectByName("del/cached"));
        expect(INVALID_HANDLE, lib.CloseObject(cached.objHandle));
        CCreateFnValue created = lib.CreateObject("del/created");
        ok(lib.WriteObject(created.objHandle, data(8, 2 * BLOCK), 2 * BLOCK));
        ok(lib.DeleteObjectByHandle(created.objHandle));
        expect(INVALID_HANDLE, lib.CloseObject(created.objHandle));
        List.of("del/a", "del/b", "del/c").forEach(n -> ok(lib.WriteObject(n, new byte[1], 1)));
        CCreateFnValue opened = lib.OpenObject("del/a");
        ok(lib.DeleteObjectByHandle(opened.objHandle)); // a read session: ended, and its object deleted
        expect(INVALID_HANDLE, lib.CloseObject(opened.objHandle));
        ok(lib.DeleteObjectByName("del/b"));
        expect(OBJECT_NOT_FOUND, lib.DeleteObjectByHandle(new String[] {"del/b", "del/c"})); // all tried
        // Many at once: every one tried, and the answer is the first failure in the array's order, not the first
        // to arrive (the refused name fails at once, before any request).
        String[] many = IntStream.range(0, 40)
                .mapToObj(i -> i == 10 ? "del/missing" : i == 30 ? "del/bad\\name" : "del/m" + i)
                .toArray(String[]::new);
        Arrays.stream(many).filter(n -> n.matches("del/m[0-9]+")).forEach(n -> ok(lib.WriteObject(n, new byte[1], 1)));
        expect(OBJECT_NOT_FOUND, lib.DeleteObjectByHandle(many));
        assertEquals(0, lib.GetObjectSubList("del/").metaDat.length, "nothing left, nothing discarded committed");
    }

    @ParameterizedTest(name = "{0} bytes")
    @CsvSource({"0", "1000", "4194309"}) // empty (answered by the properties), within the first range, past it
    void aReadSessionOpensOnItsFirstRange(int size) throws InterruptedException {
        long held = BufferPool.SHARED.used();
        byte[] content = data(13, size);
        String name = "first/" + size;
        ok(lib.WriteObject(name, content, size, meta("k", "v")).errorValue);
        CCreateFnValue unread = lib.OpenObject(name);
        assertEquals(Map.of("k", "v"), asMap(lib.GetObjectMetaData(unread.objHandle).values));
        ok(lib.CloseObject(unread.objHandle));
        for (int i = 0; i < 500 && BufferPool.SHARED.used() > held; i++) {
            Thread.sleep(10); // a body still arriving gives its buffer back once its worker has stopped it
        }
        assertEquals(held, BufferPool.SHARED.used(), "a range opened and never read is given back after the close");
        assertArrayEquals(content, readInChunks(lib, name, 3000));
    }

    @Test
    void readSessionsStayOnTheVersionTheyOpened() {
        ok(lib.WriteObject("pinned", data(9, 500), 500, meta("m", "1")).errorValue);
        CCreateFnValue opened = lib.OpenObject("pinned");
        byte[] buf = new byte[500];
        ok(lib.SetObjectMetaData(opened.objHandle, "n", "2")); // the holder's own change keeps it usable...
        CRObjectByNameFnValue read = lib.ReadObjectByHandle(opened.objHandle, buf, 0, 9, null);
        assertEquals(Map.of("m", "1", "n", "2"), asMap(read.values));
        ok(lib.WriteObject("pinned", data(10, 500), 500, null).errorValue); // ...a new version does not mix in
        expect(PRECONDITION_FAILED, lib.ReadObject(opened.objHandle, buf, 500, 0).errorValue);
        ok(lib.CloseObject(opened.objHandle));
    }

    @Test
    void withListLengthTheListingAloneCarriesEachObjectsRealLength() {
        // A user property of the reserved name is stored as written and loses to the real length in the listing only.
        ok(lib.WriteObject("len/forged", data(11, 3000), 3000, meta("kq.length", "1", "n", "x")).errorValue);
        ok(lib.WriteObject("len/empty", new byte[0], 0));
        writeInChunks(lib, "len/blocks", data(12, 3 * BLOCK + 5), 7000);
        assertEquals(
                Map.of("len/forged", Map.of("kq.length", "1", "n", "x"), "len/empty", Map.of(), "len/blocks", Map.of()),
                listed(lib, "len/"),
                "off by default: the stored metadata only");
        String config = Azurite.shared().connectionString() + "Container=" + lib.GetContainerName().accountName;
        withLibrary(config + ";ListLength=true", listing -> {
            Map<String, String> blocks = Map.of("kq.length", "" + (3 * BLOCK + 5));
            Map<String, String> forged = Map.of("kq.length", "3000", "n", "x");
            assertEquals(
                    Map.of("len/forged", forged, "len/empty", Map.of("kq.length", "0"), "len/blocks", blocks),
                    listed(listing, "len/"));
            for (CObjectSubListElement e : listing.GetObjectSubList("len/").metaDat) {
                Arrays.stream(e.metaDat)
                        .filter(m -> m.szPropertyName.equals("kq.length"))
                        .forEach(m -> assertEquals(CPropertyTYPE.INTEGER, m.val.prpType, e.szFileName));
            }
            assertEquals("1", listing.GetObjectMetaData("len/forged", "kq.length").value, "other reads: as stored");
        });
    }

    @Test
    void awkwardMetadataIsStoredAsDistinctIdentifiersAndSurvivesEveryPath() {
        Map<String, String> expected = asMap(AWKWARD);
        Set<String> stored = new HashSet<>();
        expected.forEach((name, value) -> {
            String n = MetadataCodec.encodeName(name);
            String v = MetadataCodec.encodeValue(value);
            assertTrue(n.matches("[a-z_][a-z0-9_]*") && stored.add(n), n); // lower case: distinct regardless of it
            assertTrue(v.matches("[\\x21-\\x7e]([\\x20-\\x7e]*[\\x21-\\x7e])?"), v);
        });
        assertEquals("size12", MetadataCodec.encodeName("size") + MetadataCodec.encodeValue("12"), "plain as is");
        ok(lib.WriteObject("awkward/oneshot", data(1, 10), 10, AWKWARD).errorValue);
        CCreateFnValue session = lib.CreateObject("awkward/session");
        ok(lib.WriteObject(session.objHandle, data(2, 10), 10, AWKWARD).errorValue);
        ok(lib.CloseObject(session.objHandle));
        for (String name : new String[] {"awkward/oneshot", "awkward/session"}) {
            assertEquals(expected, asMap(lib.GetObjectMetaData(name).values), name);
            assertEquals(expected, asMap(lib.ReadObjectByName(name, new byte[10], 0, 10, null).values), name);
            expected.forEach((k, v) -> assertEquals(v, lib.GetObjectMetaData(name, k).value, k));
        }
        assertEquals(Map.of("awkward/oneshot", expected, "awkward/session", expected), listed(lib, "awkward/"));
        String[] chosen = {"Size", null, "ünïcödé", "absent"};
        assertEquals(
                Map.of("Size", "upper-case twin", "ünïcödé", "välüé ✓"),
                asMap(lib.ReadObjectByName("awkward/oneshot", new byte[4], 0, 4, chosen).values));
        for (String foreign : new String[] {"kq_1", "kq_a", "kq_aaa", "kq_ab", "kqb64:%%%", "kqb64:/w=="}) {
            assertEquals(
                    foreign,
                    foreign.startsWith("kq_") ? MetadataCodec.decodeName(foreign) : MetadataCodec.decodeValue(foreign),
                    "stored by another tool: handed back unchanged");
        }
    }

    @Test
    void settingOnePropertyKeepsTheOthersAndBadEntriesAreRefused() {
        ok(lib.WriteObject("meta/set", data(4, 4), 4, meta("a", "1", "B", "2")).errorValue);
        ok(lib.SetObjectMetaData("meta/set", "B", "two"));
        ok(lib.SetObjectMetaData("meta/set", "new one", ""));
        assertEquals(Map.of("a", "1", "B", "two", "new one", ""), asMap(lib.GetObjectMetaData("meta/set").values));
        expect(METADATA_NOT_FOUND, lib.GetObjectMetaData("meta/set", "b").errorValue);
        for (CPluginMetaData[] bad : new CPluginMetaData[][] {
            {new CPluginMetaData("a", "1"), null}, {new CPluginMetaData()}, meta("lone\uD800surrogate", "x")
        }) {
            expect(INVALID_METADATA, lib.WriteObject("meta/bad", data(5, 1), 1, bad).errorValue);
        }
        assertFalse(exists(lib, "meta/bad"), "a refused write stores nothing");
    }

    @Test
    void eightThreadsWriteReadAndTagTheirOwnSessionsAtOnce() throws Exception {
        List<Object> owners = eightAtOnce(t -> {
            byte[] content = data(t, 3 * BLOCK + t * 7 + 1);
            writeInChunks(lib, "threads/" + t, content, 5000 + t * 333); // every chunk a call of its own
            ok(lib.SetObjectMetaData("threads/" + t, "owner", "thread " + t));
            assertArrayEquals(content, readInChunks(lib, "threads/" + t, 9000 + t));
            return lib.GetObjectMetaData("threads/" + t, "owner").value;
        });
        assertEquals(IntStream.range(0, 8).mapToObj(t -> "thread " + t).collect(Collectors.toList()), owners);
    }
}
