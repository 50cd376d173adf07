package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.ERRORID;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.extension.ExtendWith;

import java.util.Map;
import java.util.TreeMap;
import java.util.regex.Pattern;

import static com.kq.AzureLibrary.TestSupport.asMap;
import static com.kq.AzureLibrary.TestSupport.data;
import static com.kq.AzureLibrary.TestSupport.expect;
import static com.kq.AzureLibrary.TestSupport.meta;
import static com.kq.AzureLibrary.TestSupport.ok;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

/** Metadata names and values that Azure refuses as they are come back exactly as the host gave them. */
@ExtendWith(AzuriteExtension.class)
class MetadataTest {
    /** Names Azure forbids or would change (case, characters, a leading digit, ...) and plain ones. */
    static final String[][] AWKWARD = {
            {"size", "12"},
            {"Size", "upper-case twin of size"},
            {"SIZE", "third twin"},
            {"Content-Type", "hyphen"},
            {"1st", "leading digit"},
            {"with space", " leading and trailing blanks "},
            {"dotted.name", "x"},
            {"ünïcödé", "välüé ✓"},
            {"emoji\uD83D\uDE00", "\uD83D\uDE00"},
            {"", "empty name"},
            {"kq_lookalike", "kqb64:not really encoded"},
            {"kq_", ""},
            {"tab\tname", "line\nbreak"},
            {"_under_score", "ok"},
    };

    private static final Pattern IDENTIFIER = Pattern.compile("[a-z_][a-z0-9_]*");
    private static KQAzurePlugInLibrary lib;

    @BeforeAll
    static void setUp(AzuriteProcess azurite) {
        lib = TestSupport.library(azurite, "metadata", "");
    }

    @AfterAll
    static void tearDown() {
        ok(lib.AzureDeInit());
    }

    private static Map<String, String> awkwardMap() {
        Map<String, String> m = new TreeMap<>();
        for (String[] pair : AWKWARD) {
            m.put(pair[0], pair[1]);
        }
        return m;
    }

    private static CPluginMetaData[] awkwardEntries() {
        String[] flat = new String[AWKWARD.length * 2];
        for (int i = 0; i < AWKWARD.length; i++) {
            flat[2 * i] = AWKWARD[i][0];
            flat[2 * i + 1] = AWKWARD[i][1];
        }
        return meta(flat);
    }

    @Test
    void encodingIsReversibleAndYieldsDistinctIdentifiers() {
        java.util.Set<String> storedNames = new java.util.HashSet<>();
        for (String[] pair : AWKWARD) {
            String name = MetadataCodec.encodeName(pair[0]);
            String value = MetadataCodec.encodeValue(pair[1]);
            assertTrue(IDENTIFIER.matcher(name).matches(), name);
            assertTrue(storedNames.add(name.toLowerCase()), "names must differ without regard to case: " + name);
            assertTrue(value.chars().allMatch(c -> c >= 0x20 && c <= 0x7e) && !value.isEmpty()
                    && value.charAt(0) != ' ' && value.charAt(value.length() - 1) != ' ', value);
            assertEquals(pair[0], MetadataCodec.decodeName(name));
            assertEquals(pair[1], MetadataCodec.decodeValue(value));
        }
        assertEquals("size", MetadataCodec.encodeName("size"), "plain names are stored as they are");
        assertEquals("12", MetadataCodec.encodeValue("12"));
    }

    @Test
    void foreignMetadataThatOnlyLooksEncodedIsLeftAlone() {
        for (String stored : new String[] {"kq_1", "kq_a", "kq_aaa", "kq_a!", "kq_ab"}) {
            String decoded = MetadataCodec.decodeName(stored);
            assertTrue(decoded.equals(stored) || MetadataCodec.encodeName(decoded).equals(stored),
                    "either untouched or a true round trip: " + stored);
        }
        assertEquals("kqb64:%%%", MetadataCodec.decodeValue("kqb64:%%%"));
        assertEquals("kqb64:/w==", MetadataCodec.decodeValue("kqb64:/w=="), "bytes that are not UTF-8");
        assertArrayEquals(new byte[] {1, 2, 3, (byte) 0xff},
                MetadataCodec.unbase32(MetadataCodec.base32(new byte[] {1, 2, 3, (byte) 0xff})));
        assertNull(MetadataCodec.unbase32("b"), "a length no byte count encodes to");
        assertNull(MetadataCodec.unbase32("ab"), "non-zero padding bits");
    }

    @Test
    void awkwardMetadataSurvivesEveryWriteAndReadPath() {
        Map<String, String> expected = awkwardMap();

        ok(lib.WriteObject("awkward/oneshot", data(1, 10), 10, awkwardEntries()).errorValue);
        CCreateFnValue session = lib.CreateObject("awkward/session");
        ok(lib.WriteObject(session.objHandle, data(2, 10), 10, awkwardEntries()).errorValue);
        ok(lib.CloseObject(session.objHandle));

        for (String name : new String[] {"awkward/oneshot", "awkward/session"}) {
            assertEquals(expected, asMap(lib.GetObjectMetaData(name).values), name);
            CRObjectByNameFnValue read = lib.ReadObjectByName(name, new byte[10], 0, 10, null);
            ok(read.errorValue);
            assertEquals(expected, asMap(read.values));
            for (String[] pair : AWKWARD) {
                CGetObjectMetaData one = lib.GetObjectMetaData(name, pair[0]);
                ok(one.errorValue);
                assertEquals(pair[1], one.value);
            }
        }
        CRetGetSubMetaDataList listed = lib.GetObjectSubList("awkward/");
        ok(listed.errorValue);
        assertEquals(2, listed.metaDat.length);
        for (CObjectSubListElement e : listed.metaDat) {
            assertEquals(expected, asMap(e.metaDat), e.szFileName);
        }
    }

    @Test
    void readsCanAskForChosenProperties() {
        ok(lib.WriteObject("meta/chosen", data(3, 4), 4, awkwardEntries()).errorValue);
        CRObjectByNameFnValue read = lib.ReadObjectByName("meta/chosen", new byte[4], 0, 4,
                new String[] {"Size", null, "ünïcödé", "absent"});
        ok(read.errorValue);
        assertEquals(Map.of("Size", "upper-case twin of size", "ünïcödé", "välüé ✓"), asMap(read.values));
    }

    @Test
    void settingOnePropertyKeepsTheOthers() {
        ok(lib.WriteObject("meta/set", data(4, 4), 4, meta("a", "1", "B", "2")).errorValue);
        ok(lib.SetObjectMetaData("meta/set", "B", "two"));
        ok(lib.SetObjectMetaData("meta/set", "new one", ""));
        assertEquals(Map.of("a", "1", "B", "two", "new one", ""), asMap(lib.GetObjectMetaData("meta/set").values));

        expect(ERRORID.METADATA_NOT_FOUND, lib.GetObjectMetaData("meta/set", "b").errorValue);
        expect(ERRORID.OBJECT_NOT_FOUND, lib.GetObjectMetaData("meta/none", "a").errorValue);
        expect(ERRORID.OBJECT_NOT_FOUND, lib.SetObjectMetaData("meta/none", "a", "1"));
        expect(ERRORID.INVALID_ARGUMENT, lib.SetObjectMetaData("meta/set", null, "1"));
        expect(ERRORID.INVALID_ARGUMENT, lib.SetObjectMetaData("meta/set", "a", null));
    }

    @Test
    void badEntriesAreRefusedAndDuplicatesKeepTheFirst() {
        CPluginMetaData[] withNull = {new CPluginMetaData("a", "1"), null};
        expect(ERRORID.INVALID_METADATA, lib.WriteObject("meta/bad", data(5, 1), 1, withNull).errorValue);
        expect(ERRORID.INVALID_METADATA,
                lib.WriteObject("meta/bad", data(5, 1), 1, new CPluginMetaData[] {new CPluginMetaData()}).errorValue);
        expect(ERRORID.INVALID_METADATA,
                lib.WriteObject("meta/bad", data(5, 1), 1, meta("lone\uD800surrogate", "x")).errorValue);
        assertTrue(!lib.IsObjectExist("meta/bad").isExist, "a refused write stores nothing");

        CPluginMetaData nullValue = new CPluginMetaData("n", (CPluginValue) null);
        ok(lib.WriteObject("meta/dup", data(6, 1), 1,
                new CPluginMetaData[] {new CPluginMetaData("k", "first"), new CPluginMetaData("k", "second"),
                        nullValue}).errorValue);
        assertEquals(Map.of("k", "first", "n", ""), asMap(lib.GetObjectMetaData("meta/dup").values));
        assertNotEquals(MetadataCodec.encodeName("k"), MetadataCodec.encodeName("K"));
    }
}
