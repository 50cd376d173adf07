package com.kq.AzureLibrary;

import java.util.Arrays;

/**
 * How a streaming read cuts an object into ranges. Every position belongs to exactly one range, so ranges fetched
 * at different times never overlap.
 *
 * <p>Without a {@link BlockLayout} the ranges are {@code RangeSize} bytes on a fixed grid, each checked by the MD5
 * the service returns for it. Once a layout is adopted, from the first block boundary past everything already
 * planned, consecutive whole blocks are read as one range of up to twice {@code RangeSize} and checked by their
 * own sums; a block larger than {@link #SPLIT_FACTOR} ranges is read in {@code RangeSize} pieces instead, so one
 * range never takes a large share of the buffer pool.
 */
final class RangePlan {
    /** A block longer than this many ranges is read in pieces. */
    static final int SPLIT_FACTOR = 4;

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
    private BlockLayout layout;
    private long layoutFrom = Long.MAX_VALUE;
    /** Runs of whole blocks (or one split block) from {@code layoutFrom}: first block of each, and whether split. */
    private int[] runFirst;
    private long[] runStart;
    private boolean[] runSplit;

    RangePlan(long length, int rangeSize) {
        this.length = length;
        this.rangeSize = rangeSize;
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
        long target = 2L * rangeSize;
        long splitAbove = (long) SPLIT_FACTOR * rangeSize;
        int[] firsts = new int[blocks.blocks() - first];
        boolean[] split = new boolean[firsts.length];
        int runs = 0;
        for (int b = first; b < blocks.blocks(); runs++) {
            long runBegin = blocks.start(b);
            firsts[runs] = b;
            split[runs] = blocks.end(b) - runBegin > splitAbove;
            b++;
            while (!split[runs] && b < blocks.blocks() && blocks.end(b) - runBegin <= target) {
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
            long start = pos - pos % rangeSize;
            long end = Math.min(Math.min(start + rangeSize, length), layoutFrom);
            return new Range(start, (int) (end - start), -1, -1);
        }
        int run = Arrays.binarySearch(runStart, pos);
        run = run >= 0 ? run : -run - 2;
        int lastBlock = run + 1 < runFirst.length ? runFirst[run + 1] - 1 : layout.blocks() - 1;
        long runEnd = layout.end(lastBlock);
        if (runSplit[run]) {
            long start = runStart[run] + (pos - runStart[run]) / rangeSize * rangeSize;
            return new Range(start, (int) Math.min(rangeSize, runEnd - start), -1, -1);
        }
        return new Range(runStart[run], (int) (runEnd - runStart[run]), runFirst[run], lastBlock);
    }
}
