package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.ERRORID;
import java.util.Iterator;
import java.util.Map;
import java.util.TreeMap;
import java.util.concurrent.CancellationException;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.TimeoutException;
import java.util.function.Supplier;

/**
 * Read-ahead of one read session. A session streams when a read starts where the previous one ended, or when its
 * first read starts at 0 and asks for at least one range (a restore reading the object from the top). While it
 * streams, the ranges covering the read itself and those after it are fetched in parallel, bound to the session's
 * ETag, into buffers taken from the shared {@link BufferPool} only when it has room now. How many ranges go ahead
 * follows the link ({@link Window}): enough to cover the rate the reader takes bytes at times the time one range
 * takes to arrive, more while the reader still waits, at most {@code depth}. A read elsewhere drops them and is
 * served directly, so random reads cost nothing extra.
 *
 * <p>When a stream starts on an object that goes on past its first read, the committed block list is asked for
 * alongside that read's own ranges; if the blocks carry this library's sums, the ranges after it are whole blocks
 * checked by those sums ({@link RangePlan}).
 */
final class ReadAhead {

    /** One range fetched ahead; its buffer goes back once, whoever ends last (the fetch or the reader). */
    private final class Chunk {
        final long start;
        final int length;
        final byte[] buffer;
        final Supplier<BlockLayout.Check> sums;
        /** The open's answer whose body this range is; null for a range this read-ahead asked for. */
        final FirstRange first;

        Future<Integer> fetch;
        private boolean started;
        private boolean finished;
        private boolean dropped;

        Chunk(RangePlan.Range range, byte[] buffer, BlockLayout layout) {
            this.start = range.start;
            this.length = range.length;
            this.buffer = buffer;
            this.sums = range.checkedBySums() ? () -> layout.new Check(range.firstBlock, range.lastBlock) : null;
            this.first = null;
        }

        Chunk(FirstRange first) {
            this.start = 0;
            this.length = first.length;
            this.buffer = first.buffer;
            this.sums = null;
            this.first = first;
        }

        int fetch() throws Exception {
            synchronized (this) {
                if (dropped) {
                    return 0;
                }
                started = true;
            }
            long began = first != null ? first.requested : System.nanoTime();
            try {
                int got = first != null
                        ? first.body()
                        : data.readRange(blobName, buffer, 0, start, length, eTag, sums).bytes;
                window.fetched(System.nanoTime() - began);
                return got;
            } finally {
                synchronized (this) {
                    finished = true;
                    if (dropped) {
                        data.pool.release(buffer, false);
                    }
                }
            }
        }

        void drop() {
            boolean unread;
            synchronized (this) {
                if (dropped) {
                    return;
                }
                dropped = true;
                unread = !started;
                if (!started || finished) {
                    data.pool.release(buffer, false);
                }
            }
            if (unread && first != null) {
                first.end(); // a body nobody will read: its connection closes now
            }
            fetch.cancel(true);
        }
    }

    /**
     * How many ranges a stream keeps ahead of its reader: its bandwidth × delay, in ranges. The reader's rate (bytes
     * it takes per second, between its calls) times the time one range takes from request to last byte is what
     * must be in flight for the reader never to wait; one range more covers the one being read. While the reader
     * still waits for ranges in flight the link is the limit and its rate undercounts it, so each wait doubles an
     * extra allowance (as a connection's window grows from a slow start) and each read served at once takes one
     * back. A slow reader (a busy disk, a loaded machine) so holds only the few ranges it needs, which leaves the
     * shared pool to other streams; a fast one over a far link gets up to {@code most}.
     */
    static final class Window {
        /** Weight of the newest sample in the running averages. */
        private static final double WEIGHT = 0.25;

        private final int most;
        private int extra;
        private double rate = -1;
        private double delay = -1;
        private long lastRead = -1;

        Window(int most) {
            this.most = most;
        }

        /** One range's fetch, from request to last byte. */
        synchronized void fetched(long nanos) {
            delay = average(delay, nanos / 1e9);
        }

        /** A read of {@code bytes} ended at {@code now} (ns); {@code waited}: a range it needed was still on its way. */
        synchronized void read(long bytes, boolean waited, long now) {
            if (lastRead >= 0 && now > lastRead) {
                rate = average(rate, bytes * 1e9 / (now - lastRead));
            }
            lastRead = now;
            extra = waited ? Math.min(most, Math.max(1, extra * 2)) : Math.max(0, extra - 1);
        }

        /** Ranges of {@code rangeBytes} to keep ahead now. */
        synchronized int ahead(long rangeBytes) {
            if (rate < 0 || delay < 0) {
                return Math.min(most, 2 + extra); // nothing measured yet: a start that grows with every wait
            }
            long need = (long) Math.ceil(rate * delay / Math.max(1, rangeBytes)) + 1 + extra;
            return (int) Math.max(Math.min(1, most), Math.min(most, need));
        }

        private static double average(double old, double sample) {
            return old < 0 ? sample : old + WEIGHT * (sample - old);
        }
    }

    /** How long a stream's first read waits for the block list before it plans further ranges without it. */
    static final long LAYOUT_WAIT_MS = 1000;

    private final DataPath data;
    private final String blobName;
    private final long length;
    private final int depth;
    private final Window window;
    /** Set by {@link #fromAhead} when the reader had to wait for a range still on its way. */
    private boolean waited;

    private String eTag;
    private RangePlan plan;
    /** The block list asked for when the stream started; null until then, and again once adopted or given up. */
    private Future<BlockLayout> layout;

    private boolean layoutAsked;
    private long nextExpected = -1;
    /** After {@link #close()} a read still running is served directly: nothing is fetched ahead for it any more. */
    private boolean closed;

    private final TreeMap<Long, Chunk> ahead = new TreeMap<>();

    ReadAhead(DataPath data, String blobName, long length, String eTag, int depth) {
        this.data = data;
        this.blobName = blobName;
        this.length = length;
        this.eTag = eTag;
        this.depth = depth;
        this.window = new Window(depth);
        this.plan = new RangePlan(length, data.rangeSize, data.checkedRange);
    }

    /**
     * Takes over the first range the session's open asked for, which makes a read from 0 the start of a stream.
     * A range it cannot take (the read-ahead has begun or ended) is abandoned.
     */
    synchronized void seed(FirstRange first) {
        if (closed || nextExpected != -1 || !ahead.isEmpty()) {
            first.abandon();
            return;
        }
        Chunk c = new Chunk(first);
        try {
            c.fetch = data.submit(c::fetch);
        } catch (RuntimeException e) {
            first.abandon();
            throw e;
        }
        ahead.put(0L, c);
        nextExpected = 0;
    }

    /** Reads {@code count} bytes (already limited to the object) from {@code offset} into {@code target[0..]}. */
    synchronized int read(byte[] target, long offset, int count, String currentETag) {
        long began = RangeTrace.start();
        try {
            return readTraced(target, offset, count, currentETag);
        } finally {
            RangeTrace.end(began, "read", blobName, offset, count);
        }
    }

    private int readTraced(byte[] target, long offset, int count, String currentETag) {
        if (!currentETag.equals(eTag)) {
            dropAll(); // the session moved to a new version (its own metadata change): plan it afresh
            eTag = currentETag;
        }
        boolean streaming = !closed
                && depth > 0
                && (offset == nextExpected || (nextExpected == -1 && offset == 0 && count >= data.checkedRange));
        int done = 0;
        if (streaming) {
            if (!layoutAsked && offset + count < length) {
                layoutAsked = true;
                String version = eTag;
                layout = data.submit(() -> data.blockLayout(blobName, version, length));
                fetchAhead(offset, count, 0); // the read's own ranges go out while the list is on its way
                adoptLayout(offset + count, LAYOUT_WAIT_MS);
            }
            // The read's own ranges go out together with those ahead of it, so they all overlap.
            fetchAhead(offset, count, ahead());
            waited = false;
            done = fromAhead(target, offset, count);
            window.read(done, waited, System.nanoTime());
        } else {
            dropAll();
        }
        if (done < count) {
            done += data.readSpan(blobName, target, done, offset + done, count - done, eTag).bytes;
        }
        nextExpected = offset + done;
        if (streaming) {
            adoptLayout(nextExpected, 0);
            fetchAhead(nextExpected, 0, ahead()); // keeps the window full while the caller uses what it got
        }
        return done;
    }

    /**
     * Takes the block list if it has come within {@code waitMs}: the plan uses it past everything already planned.
     * A list that failed, or does not carry this library's sums, leaves the plan as it is.
     */
    private void adoptLayout(long reached, long waitMs) {
        if (layout == null || (waitMs == 0 && !layout.isDone())) {
            return;
        }
        BlockLayout blocks;
        try {
            blocks = layout.get(waitMs, TimeUnit.MILLISECONDS);
        } catch (TimeoutException e) {
            return; // a later read takes it
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw StorageFailure.of(ERRORID.CANCELLED);
        } catch (ExecutionException | CancellationException e) {
            blocks = null; // the ranges are checked by the service's MD5 as before
        }
        layout = null;
        if (blocks != null) {
            Map.Entry<Long, Chunk> last = ahead.lastEntry();
            long planned = last == null ? reached : Math.max(reached, last.getKey() + last.getValue().length);
            plan.adopt(blocks, planned);
        }
    }

    /** Ranges to keep ahead now, counted in ranges of the size the plan reads. */
    private int ahead() {
        return window.ahead(plan.layout() != null ? data.rangeSize : data.checkedRange);
    }

    /** Copies what the fetched ranges hold from {@code offset} on; stops at the first range not fetched ahead. */
    private int fromAhead(byte[] target, long offset, int count) {
        int done = 0;
        while (done < count) {
            long pos = offset + done;
            Map.Entry<Long, Chunk> e = ahead.floorEntry(pos);
            Chunk c = e == null ? null : e.getValue();
            if (c == null || pos >= c.start + c.length) {
                break;
            }
            int got;
            try {
                waited |= !c.fetch.isDone();
                got = c.fetch.get();
            } catch (InterruptedException ie) {
                Thread.currentThread().interrupt();
                throw StorageFailure.of(ERRORID.CANCELLED);
            } catch (CancellationException ce) {
                throw StorageFailure.of(ERRORID.CANCELLED); // the library is shutting down under this read
            } catch (ExecutionException ee) {
                ahead.remove(c.start);
                c.drop();
                break; // read directly instead: its own retries answer the failure if it persists
            }
            int at = (int) (pos - c.start);
            int n = Math.min(count - done, got - at);
            if (n <= 0) {
                break;
            }
            System.arraycopy(c.buffer, at, target, done, n);
            done += n;
            if (at + n >= c.length) {
                ahead.remove(c.start);
                c.drop();
            }
        }
        // Ranges behind the reader are of no more use.
        for (Iterator<Map.Entry<Long, Chunk>> it = ahead.entrySet().iterator(); it.hasNext(); ) {
            Chunk c = it.next().getValue();
            if (c.start + c.length <= offset + done) {
                it.remove();
                c.drop();
            }
        }
        return done;
    }

    /**
     * Starts fetching the ranges that cover {@code [from, from + count)} and the {@code extra} ranges after them,
     * at most {@code 2 * depth} ranges in all so one large read cannot take the whole pool.
     */
    private void fetchAhead(long from, int count, int extra) {
        long ownEnd = from + count;
        int beyond = 0;
        for (long pos = from; pos < length && ahead.size() < 2 * depth; ) {
            RangePlan.Range range = plan.rangeAt(pos);
            if (range.start >= ownEnd && beyond++ >= extra) {
                return;
            }
            pos = range.start + range.length;
            if (ahead.containsKey(range.start)) {
                continue;
            }
            byte[] buffer = data.pool.tryAcquire(range.length);
            if (buffer == null) {
                return; // no memory to spare: the reader fetches for itself
            }
            Chunk c = new Chunk(range, buffer, plan.layout());
            try {
                c.fetch = data.submit(c::fetch);
            } catch (RuntimeException e) {
                data.pool.release(buffer, false);
                throw e;
            }
            ahead.put(range.start, c);
        }
    }

    /** Drops every range fetched ahead, and the plan with them: the next stream starts afresh. */
    private void dropAll() {
        for (Chunk c : ahead.values()) {
            c.drop();
        }
        ahead.clear();
        if (layout != null) {
            layout.cancel(true);
            layout = null;
        }
        layoutAsked = false;
        plan = new RangePlan(length, data.rangeSize, data.checkedRange);
    }

    /** Ends the read-ahead: fetches cancelled, buffers given back. */
    synchronized void close() {
        closed = true;
        dropAll();
        nextExpected = -1;
    }
}
