package com.kq.AzureLibrary;

import com.azure.storage.blob.models.Block;
import java.nio.ByteBuffer;
import java.util.Arrays;
import java.util.Base64;
import java.util.List;
import java.util.zip.Checksum;

/**
 * Where an object's committed blocks lie and the CRC32C each block was staged with. This library names every
 * block it stages after its sum, so the committed block list (one request) tells a reader what each block must
 * hold. A range made of whole blocks is then checked here, with no checksum asked of the service, which computes
 * range MD5s only up to 4 MiB: a restore can fetch ranges as large as the blocks, half the requests, and still
 * check every byte. Objects whose blocks were named by anyone else have no layout.
 */
final class BlockLayout {
    /**
     * Marks a block id as this library's: tag, session salt, index, CRC32C. Sixteen bytes, the length ids had before
     * they carried sums: the service refuses a block whose id length differs from that of uncommitted blocks still
     * waiting on the blob, such as those an interrupted backup left behind.
     */
    private static final byte[] TAG = {'k', 'q'};

    static final int SALT_BYTES = 6;
    static final int ID_BYTES = TAG.length + SALT_BYTES + 4 + 4;

    private final long[] starts;
    private final int[] sums;
    private final long length;

    private BlockLayout(long[] starts, int[] sums, long length) {
        this.starts = starts;
        this.sums = sums;
        this.length = length;
    }

    static long crc32c(byte[] data, int off, int len) {
        return Crc32c.of(data, off, len);
    }

    /** The id of block {@code index} of a session: the same length for every block, as the service demands. */
    static String blockId(byte[] salt, int index, long crc32c) {
        ByteBuffer raw = ByteBuffer.allocate(ID_BYTES)
                .put(TAG)
                .put(salt, 0, SALT_BYTES)
                .putInt(index)
                .putInt((int) crc32c);
        return Base64.getEncoder().encodeToString(raw.array());
    }

    /**
     * The CRC32C that block {@code index} of an object carries in its id when this library staged it; -1 for any
     * other id. The index must match too, which also rules out ids of the older form whose salt began like the tag.
     */
    static long sumOf(String blockId, int index) {
        byte[] raw;
        try {
            raw = Base64.getDecoder().decode(blockId);
        } catch (IllegalArgumentException e) {
            return -1;
        }
        if (raw.length != ID_BYTES || raw[0] != TAG[0] || raw[1] != TAG[1]) {
            return -1;
        }
        ByteBuffer fields = ByteBuffer.wrap(raw, TAG.length + SALT_BYTES, 8);
        return fields.getInt() == index ? fields.getInt() & 0xFFFFFFFFL : -1;
    }

    /** The layout of a committed block list, or null when a block is not this library's or the sizes disagree. */
    static BlockLayout of(List<Block> committed, long objectLength) {
        if (committed == null || committed.isEmpty()) {
            return null;
        }
        long[] starts = new long[committed.size()];
        int[] sums = new int[committed.size()];
        long pos = 0;
        for (int i = 0; i < starts.length; i++) {
            Block b = committed.get(i);
            long sum = sumOf(b.getName(), i);
            if (sum < 0 || b.getSizeLong() <= 0) {
                return null;
            }
            starts[i] = pos;
            sums[i] = (int) sum;
            pos += b.getSizeLong();
        }
        return pos == objectLength ? new BlockLayout(starts, sums, objectLength) : null;
    }

    int blocks() {
        return starts.length;
    }

    long start(int block) {
        return starts[block];
    }

    long end(int block) {
        return block + 1 < starts.length ? starts[block + 1] : length;
    }

    long sum(int block) {
        return sums[block] & 0xFFFFFFFFL;
    }

    /** Checks blocks {@code first..last}, read as one range, as their bytes arrive in order. */
    final class Check {
        private final int last;
        private final Checksum crc = Crc32c.create();
        private int block;
        private long pos;
        private boolean good = true;

        Check(int first, int last) {
            this.block = first;
            this.last = last;
            this.pos = start(first);
        }

        void update(byte[] data, int off, int len) {
            while (len > 0 && block <= last) {
                int n = (int) Math.min(len, end(block) - pos);
                crc.update(data, off, n);
                pos += n;
                off += n;
                len -= n;
                if (pos == end(block)) {
                    good &= crc.getValue() == sum(block);
                    crc.reset();
                    block++;
                }
            }
            good &= len == 0;
        }

        /** Whether every block arrived whole and matched its sum. */
        boolean passed() {
            return good && block == last + 1;
        }
    }

    /** The first block that starts at or after {@code pos}; {@link #blocks()} when none does. */
    int firstBlockFrom(long pos) {
        int i = Arrays.binarySearch(starts, pos);
        return i >= 0 ? i : -i - 1;
    }
}
