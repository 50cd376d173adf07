package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.ERRORID;

import java.util.Iterator;
import java.util.Map;
import java.util.TreeMap;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.Future;

/**
 * Read-ahead of one read session. A session streams when a read starts where the previous one ended, or when its
 * first read starts at 0 and asks for at least one range (a restore reading the object from the top). While it
 * streams, the ranges ({@code RangeSize} bytes each) covering the read itself and the next {@code depth} after it are
 * fetched in parallel, bound to the session's ETag, into buffers taken from
 * the shared {@link BufferPool} only when it has room now. A read elsewhere drops them and is served directly, so
 * random reads cost nothing extra.
 */
final class ReadAhead {

    /** One range fetched ahead; its buffer goes back once, whoever ends last (the fetch or the reader). */
    private final class Chunk {
        final long start;
        final int length;
        final byte[] buffer;
        Future<Integer> fetch;
        private boolean started;
        private boolean finished;
        private boolean dropped;

        Chunk(long start, int length, byte[] buffer) {
            this.start = start;
            this.length = length;
            this.buffer = buffer;
        }

        int fetch() {
            synchronized (this) {
                if (dropped) {
                    return 0;
                }
                started = true;
            }
            try {
                return data.readRange(blobName, buffer, 0, start, length, eTag).bytes;
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
            synchronized (this) {
                if (dropped) {
                    return;
                }
                dropped = true;
                if (!started || finished) {
                    data.pool.release(buffer, false);
                }
            }
            fetch.cancel(true);
        }
    }

    private final DataPath data;
    private final String blobName;
    private final long length;
    private final int depth;
    private final int chunk;
    private String eTag;
    private long nextExpected = -1;
    private final TreeMap<Long, Chunk> ahead = new TreeMap<>();

    ReadAhead(DataPath data, String blobName, long length, String eTag, int depth) {
        this.data = data;
        this.blobName = blobName;
        this.length = length;
        this.eTag = eTag;
        this.depth = depth;
        this.chunk = data.rangeSize;
    }

    /** Reads {@code count} bytes (already limited to the object) from {@code offset} into {@code target[0..]}. */
    synchronized int read(byte[] target, long offset, int count, String currentETag) {
        if (!currentETag.equals(eTag)) {
            dropAll(); // the session moved to a new version (its own metadata change)
            eTag = currentETag;
        }
        boolean streaming = depth > 0
                && (offset == nextExpected || (nextExpected == -1 && offset == 0 && count >= chunk));
        int done = 0;
        if (streaming) {
            // The read's own ranges go out together with those ahead of it, so they all overlap.
            fetchAhead(offset, count);
            done = fromAhead(target, offset, count);
        } else {
            dropAll();
        }
        if (done < count) {
            done += data.readSpan(blobName, target, done, offset + done, count - done, eTag).bytes;
        }
        nextExpected = offset + done;
        if (streaming) {
            fetchAhead(nextExpected, 0); // keeps the window full while the caller uses what it got
        }
        return done;
    }

    /** Copies what the fetched ranges hold from {@code offset} on; stops at the first range not fetched ahead. */
    private int fromAhead(byte[] target, long offset, int count) {
        int done = 0;
        while (done < count) {
            long pos = offset + done;
            Chunk c = ahead.get(pos - pos % chunk);
            if (c == null) {
                break;
            }
            int got;
            try {
                got = c.fetch.get();
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
                throw StorageFailure.of(ERRORID.CANCELLED);
            } catch (ExecutionException e) {
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
     * Starts fetching the ranges that cover {@code [from, from + count)} and the {@code depth} ranges after it, at
     * most {@code 2 * depth} in all so one large read cannot take the whole pool.
     */
    private void fetchAhead(long from, int count) {
        long first = from - from % chunk;
        long end = Math.min(length, from + count + (long) depth * chunk);
        int limit = 2 * depth;
        for (long start = first; start < end && ahead.size() < limit; start += chunk) {
            if (ahead.containsKey(start)) {
                continue;
            }
            int n = (int) Math.min(chunk, length - start);
            byte[] buffer = data.pool.tryAcquire(n);
            if (buffer == null) {
                return; // no memory to spare: the reader fetches for itself
            }
            Chunk c = new Chunk(start, n, buffer);
            try {
                c.fetch = data.submit(c::fetch);
            } catch (RuntimeException e) {
                data.pool.release(buffer, false);
                throw e;
            }
            ahead.put(start, c);
        }
    }

    private void dropAll() {
        for (Chunk c : ahead.values()) {
            c.drop();
        }
        ahead.clear();
    }

    /** Ends the read-ahead: fetches cancelled, buffers given back. */
    synchronized void close() {
        dropAll();
        nextExpected = -1;
    }
}
