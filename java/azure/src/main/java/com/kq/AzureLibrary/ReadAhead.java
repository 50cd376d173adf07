package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.ERRORID;

import java.util.Iterator;
import java.util.Map;
import java.util.TreeMap;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.Future;

/**
 * Read-ahead of one read session. Once a read starts where the previous one ended, the next {@code depth} ranges
 * of {@value DataPath#MD5_RANGE_LIMIT} bytes (each checked by its MD5) are fetched in the background, bound to the
 * session's ETag, into buffers taken from the shared {@link BufferPool} only when it has room now. A read
 * elsewhere drops them and is served directly, so random reads cost nothing extra.
 */
final class ReadAhead {
    static final int CHUNK = DataPath.MD5_RANGE_LIMIT;

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
    private String eTag;
    private long nextExpected = -1;
    private final TreeMap<Long, Chunk> ahead = new TreeMap<>();

    ReadAhead(DataPath data, String blobName, long length, String eTag, int depth) {
        this.data = data;
        this.blobName = blobName;
        this.length = length;
        this.eTag = eTag;
        this.depth = depth;
    }

    /** Reads {@code count} bytes (already limited to the object) from {@code offset} into {@code target[0..]}. */
    synchronized int read(byte[] target, long offset, int count, String currentETag) {
        if (!currentETag.equals(eTag)) {
            dropAll(); // the session moved to a new version (its own metadata change)
            eTag = currentETag;
        }
        boolean sequential = offset == nextExpected;
        int done = 0;
        if (sequential) {
            done = fromAhead(target, offset, count);
        } else {
            dropAll();
        }
        if (done < count) {
            done += data.readSpan(blobName, target, done, offset + done, count - done, eTag).bytes;
        }
        nextExpected = offset + done;
        if (sequential && depth > 0) {
            fetchAhead(nextExpected);
        }
        return done;
    }

    /** Copies what the fetched ranges hold from {@code offset} on; stops at the first range not fetched ahead. */
    private int fromAhead(byte[] target, long offset, int count) {
        int done = 0;
        while (done < count) {
            long pos = offset + done;
            Chunk c = ahead.get(pos - pos % CHUNK);
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

    private void fetchAhead(long from) {
        long first = from - from % CHUNK;
        for (int i = 0; i < depth; i++) {
            long start = first + (long) i * CHUNK;
            if (start >= length) {
                return;
            }
            if (ahead.containsKey(start)) {
                continue;
            }
            int n = (int) Math.min(CHUNK, length - start);
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
