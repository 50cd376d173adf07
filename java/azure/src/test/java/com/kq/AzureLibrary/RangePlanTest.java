package com.kq.AzureLibrary;

import static org.junit.jupiter.api.Assertions.*;

import com.azure.storage.blob.models.Block;
import java.nio.ByteBuffer;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Base64;
import java.util.List;
import java.util.Random;
import java.util.StringJoiner;
import java.util.zip.CRC32C;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/** How streaming reads cut an object, and the block sums that check whole-block ranges; no emulator needed. */
class RangePlanTest {
    private static final byte[] SALT = {1, 2, 3, 4, 5, 6, 7, 8};

    /** Blocks of the given sizes over {@code content}, named as the library names them. */
    private static List<Block> staged(byte[] content, int... sizes) {
        List<Block> blocks = new ArrayList<>();
        int pos = 0;
        for (int i = 0; i < sizes.length; i++) {
            long sum = BlockLayout.crc32c(content, pos, sizes[i]);
            blocks.add(block(BlockLayout.blockId(SALT, i, sum), sizes[i]));
            pos += sizes[i];
        }
        return blocks;
    }

    private static Block block(String id, long size) {
        return new Block().setName(id).setSizeLong(size);
    }

    /** The ranges as "start+length", with "s" when the blocks' sums check them. */
    private static String cut(RangePlan plan, long length) {
        StringJoiner out = new StringJoiner(" ");
        for (long pos = 0; pos < length; ) {
            RangePlan.Range r = plan.rangeAt(pos);
            assertEquals(pos, r.start, "ranges follow each other without gap or overlap");
            out.add(r.start + "+" + r.length + (r.checkedBySums() ? "s" : ""));
            pos += r.length;
        }
        return out.toString();
    }

    @ParameterizedTest(name = "blocks [{0}] from {1}")
    @CsvSource(
            delimiter = '|',
            value = {
                // runs of whole blocks up to 8 bytes; pieces of 4 without a layout and within a larger block
                "           | -1 | 0+4 4+4 8+2",
                "8 2        |  0 | 0+8s 8+2s",
                "2 2 2 2 2  |  0 | 0+8s 8+2s",
                "3 3 3 1    |  5 | 0+4 4+2 6+4s",
                "20 4       |  0 | 0+4 4+4 8+4 12+4 16+4 20+4s",
                "9 4 4      |  0 | 0+4 4+4 8+1 9+8s",
                "5 5        |  6 | 0+4 4+4 8+2",
            })
    void cutsTheObjectIntoRanges(String blocks, long adoptFrom, String expected) {
        int[] sizes = blocks == null
                ? new int[0]
                : Arrays.stream(blocks.trim().split(" "))
                        .mapToInt(Integer::parseInt)
                        .toArray();
        long length = sizes.length == 0 ? 10 : Arrays.stream(sizes).sum();
        RangePlan plan = new RangePlan(length, 8, 4);
        if (adoptFrom >= 0) {
            byte[] content = TestSupport.data(1, (int) length);
            plan.adopt(BlockLayout.of(staged(content, sizes), length), adoptFrom);
        }
        assertEquals(expected, cut(plan, length));
    }

    @Test
    void onlyBlocksThatAllCarryTheLibrarysSumsMakeALayout() {
        byte[] content = TestSupport.data(2, 30);
        assertNotNull(BlockLayout.of(staged(content, 10, 20), 30));
        assertNull(BlockLayout.of(staged(content, 10, 20), 31), "sizes that do not make up the object");
        assertNull(BlockLayout.of(List.of(), 0));
        List<Block> mixed = staged(content, 10, 20);
        mixed.set(1, block(Base64.getEncoder().encodeToString(new byte[BlockLayout.ID_BYTES]), 20));
        assertNull(BlockLayout.of(mixed, 30), "another tool's block among them");
        mixed.set(1, block("not base64 !", 20));
        assertNull(BlockLayout.of(mixed, 30));
        // Ids of the older form (salt, then the index as a long) whose salt happens to begin like the tag.
        List<Block> older = new ArrayList<>();
        for (int i = 0; i < 2; i++) {
            byte[] raw = ByteBuffer.allocate(BlockLayout.ID_BYTES)
                    .put(new byte[] {'k', 'q', 9, 9, 9, 9, 9, 9})
                    .putLong(i)
                    .array();
            older.add(block(Base64.getEncoder().encodeToString(raw), 15));
        }
        assertNull(BlockLayout.of(older, 30));
        assertEquals(0xFFFFFFFFL, BlockLayout.sumOf(BlockLayout.blockId(SALT, 7, 0xFFFFFFFFL), 7));
        assertEquals(-1, BlockLayout.sumOf(BlockLayout.blockId(SALT, 7, 1), 6), "a block out of its place");
        assertEquals(
                16,
                Base64.getDecoder().decode(BlockLayout.blockId(SALT, 0, 0)).length,
                "the service refuses a new id length while uncommitted blocks of the old length wait on the blob");
    }

    @Test
    void aCheckPassesOnlyTheBytesTheBlocksWereStagedWith() {
        byte[] content = TestSupport.data(3, 25);
        BlockLayout layout = BlockLayout.of(staged(content, 10, 10, 5), 25);
        byte[] range = Arrays.copyOfRange(content, 10, 25); // blocks 1 and 2
        for (int piece : new int[] {1, 4, 10, 15}) {
            BlockLayout.Check check = layout.new Check(1, 2);
            for (int off = 0; off < range.length; off += piece) {
                check.update(range, off, Math.min(piece, range.length - off));
            }
            assertTrue(check.passed(), "in pieces of " + piece);
        }
        BlockLayout.Check shortRange = layout.new Check(1, 2);
        shortRange.update(range, 0, 14);
        assertFalse(shortRange.passed(), "a range cut short");
        range[12] ^= 1;
        BlockLayout.Check damaged = layout.new Check(1, 2);
        damaged.update(range, 0, range.length);
        assertFalse(damaged.passed(), "a flipped bit");
    }

    /**
     * The sum block ids carry must be the JDK's CRC32C bit for bit (ids written on one VM are checked on another):
     * random lengths around the eight-byte steps, offsets, pieces, and the published check value.
     */
    @Test
    void theBlockSumIsTheJdksCrc32c() {
        Crc32c check = new Crc32c();
        check.update("123456789".getBytes(StandardCharsets.US_ASCII), 0, 9);
        assertEquals(0xE3069283L, check.getValue());
        byte[] data = TestSupport.data(20, 70_000);
        Random random = new Random(21);
        for (int i = 0; i < 400; i++) {
            int len = i < 40 ? i : random.nextInt(i < 200 ? 64 : data.length);
            int off = random.nextInt(data.length - len + 1);
            CRC32C jdk = new CRC32C();
            jdk.update(data, off, len);
            Crc32c ours = new Crc32c();
            int cut = len == 0 ? 0 : random.nextInt(len);
            ours.update(data, off, cut);
            ours.update(data, off + cut, len - cut);
            assertEquals(jdk.getValue(), ours.getValue(), "off " + off + " len " + len + " cut " + cut);
        }
        Crc32c one = new Crc32c();
        for (byte b : "123456789".getBytes(StandardCharsets.US_ASCII)) {
            one.update(b);
        }
        assertEquals(0xE3069283L, one.getValue(), "byte by byte");
        one.reset();
        assertEquals(0L, one.getValue(), "nothing summed");
    }
}
