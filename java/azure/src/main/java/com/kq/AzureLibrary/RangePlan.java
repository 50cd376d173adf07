package com.kq.AzureLibrary;

import java.util.Arrays;

/**
 * How a streaming read cuts an object into ranges. Every position belongs to exactly one range, so ranges fetched
 * at different times never overlap.
 *
 * <p>Without a {@link BlockLayout} the ranges are pieces of at most 4 MiB on a fixed grid, each checked by the MD5
 * the service returns for it. Once a layout is adopted, from the first block boundary past everything already
 * planned, consecutive whole blocks are read as one range of up to {@code RangeSize} bytes and checked by their
 * own sums; a block larger than that is read in pieces again.
 */
final class RangePlan {
    /** One range: where it lies, and the blocks whose sums check it (none when the service's MD5 does). */
    static final class Range {
        final long start;
        final int length;
        final int firstBlock;
        final int lastBlock;

        Range(long start, int length, int firstBlock, int lastBlock) {
            this.start = start;
            this.length = length;
            this.firstBlock = firstBlock;
            this.lastBlock = lastBlock;
        }

        boolean checkedBySums() {
            return firstBlock >= 0;
        }
    }

    private final long length;
    private final int rangeSize;
    private final int piece;
    private BlockLayout layout;
    private long layoutFrom = Long.MAX_VALUE;
    /** Runs of whole blocks (or one split block) from {@code layoutFrom}: first block of each, and whether split. */
    private int[] runFirst;

    private long[] runStart;
    private boolean[] runSplit;

    /** Runs of whole blocks up to {@code rangeSize} bytes; pieces of {@code piece} bytes elsewhere. */
    RangePlan(long length, int rangeSize, int piece) {
        this.length = length;
        this.rangeSize = rangeSize;
        this.piece = piece;
    }

    BlockLayout layout() {
        return layout;
    }

    /** Uses the layout from the first block boundary at or after {@code from}. */
    void adopt(BlockLayout blocks, long from) {
        int first = blocks.firstBlockFrom(from);
        if (first >= blocks.blocks()) {
            return;
        }
        int[] firsts = new int[blocks.blocks() - first];
        boolean[] split = new boolean[firsts.length];
        int runs = 0;
        for (int b = first; b < blocks.blocks(); runs++) {
            long runBegin = blocks.start(b);
            firsts[runs] = b;
            split[runs] = blocks.end(b) - runBegin > rangeSize;
            b++;
            while (!split[runs] && b < blocks.blocks() && blocks.end(b) - runBegin <= rangeSize) {
                b++;
            }
        }
        runFirst = Arrays.copyOf(firsts, runs);
        runSplit = Arrays.copyOf(split, runs);
        runStart = new long[runs];
        for (int i = 0; i < runs; i++) {
            runStart[i] = blocks.start(runFirst[i]);
        }
        layout = blocks;
        layoutFrom = runStart[0];
    }

    /** The range holding byte {@code pos} (0 &lt;= pos &lt; length). */
    Range rangeAt(long pos) {
        if (pos < layoutFrom) {
            long start = pos - pos % piece;
            long end = Math.min(Math.min(start + piece, length), layoutFrom);
            return new Range(start, (int) (end - start), -1, -1);
        }
        int run = Arrays.binarySearch(runStart, pos);
        run = run >= 0 ? run : -run - 2;
        int lastBlock = run + 1 < runFirst.length ? runFirst[run + 1] - 1 : layout.blocks() - 1;
        long runEnd = layout.end(lastBlock);
        if (runSplit[run]) {
            long start = runStart[run] + (pos - runStart[run]) / piece * piece;
            return new Range(start, (int) Math.min(piece, runEnd - start), -1, -1);
        }
        return new Range(runStart[run], (int) (runEnd - runStart[run]), runFirst[run], lastBlock);
    }
}
