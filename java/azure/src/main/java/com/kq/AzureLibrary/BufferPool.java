package com.kq.AzureLibrary;

import java.util.ArrayDeque;

/**
 * The process-wide budget of bytes the library holds in its own buffers: blocks waiting to be staged or being
 * staged (write-behind) and ranges fetched ahead of the reader (read-ahead). Every library instance in the
 * process shares it, so the host's heap sees one bound whatever the number of sessions or the object sizes.
 *
 * <p>A writer that would pass the cap waits until an upload in flight gives memory back; it never fails for lack
 * of memory. When nothing is in flight (every byte under the cap sits in partly filled blocks of sessions that
 * are idle), waiting would never end, so the writer gets its buffer beyond the cap instead; the overdraft is one
 * block per such session at most and is paid back as those blocks are staged. Read-ahead never waits: it only
 * takes memory that is free.
 */
final class BufferPool {
    /** Eight 8 MiB blocks in flight plus the one being filled. */
    static final long DEFAULT_CAPACITY = 72L * 1024 * 1024;
    /** Buffers kept for reuse, by size; beyond that they are left to the collector. */
    private static final int KEEP_FREE = 8;

    static final BufferPool SHARED = new BufferPool(DEFAULT_CAPACITY);

    private long capacity;
    private long used;
    /** Bytes of buffers whose upload is under way: they come back without anyone else's help. */
    private long inFlight;
    private final ArrayDeque<byte[]> free = new ArrayDeque<>();

    BufferPool(long capacity) {
        this.capacity = capacity;
    }

    synchronized void setCapacity(long capacity) {
        this.capacity = capacity;
        notifyAll();
    }

    synchronized long capacity() {
        return capacity;
    }

    synchronized long used() {
        return used;
    }

    /** A buffer of exactly {@code size} bytes, waiting for memory while uploads in flight can free some. */
    byte[] acquire(int size) throws InterruptedException {
        synchronized (this) {
            while (used + size > capacity && inFlight > 0) {
                wait();
            }
            used += size;
        }
        return take(size);
    }

    /** A buffer of {@code size} bytes if the budget has room now, else null. */
    byte[] tryAcquire(int size) {
        synchronized (this) {
            if (used + size > capacity) {
                return null;
            }
            used += size;
        }
        return take(size);
    }

    /** The buffer is now being uploaded; its memory will come back through {@link #release}. */
    synchronized void markInFlight(byte[] buffer) {
        inFlight += buffer.length;
    }

    void release(byte[] buffer, boolean wasInFlight) {
        synchronized (this) {
            used -= buffer.length;
            if (wasInFlight) {
                inFlight -= buffer.length;
            }
            if (free.size() < KEEP_FREE && (free.isEmpty() || free.peek().length == buffer.length)) {
                free.push(buffer);
            } else if (!free.isEmpty() && free.peek().length != buffer.length) {
                free.clear(); // the block size changed: the old buffers will not be asked for again
                free.push(buffer);
            }
            notifyAll();
        }
    }

    private byte[] take(int size) {
        synchronized (this) {
            if (!free.isEmpty() && free.peek().length == size) {
                return free.pop();
            }
        }
        try {
            return new byte[size];
        } catch (OutOfMemoryError e) {
            synchronized (this) {
                used -= size;
                notifyAll();
            }
            throw e;
        }
    }
}
