package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.ERRORID;
import java.util.ArrayDeque;
import java.util.HashMap;
import java.util.IdentityHashMap;
import java.util.Map;
import java.util.function.BooleanSupplier;

/**
 * The process-wide budget of bytes the library holds in its own buffers: blocks waiting to be staged or being
 * staged (write-behind) and ranges fetched ahead of the reader (read-ahead). Every library instance in the
 * process shares it, so the host's heap sees one bound whatever the number of instances, sessions or object sizes.
 *
 * <p>Its size is the largest {@code MaxBufferMemory} among the instances initialised now (each already capped to a
 * quarter of the heap), and the default while there is none: an instance that initialises or leaves never shrinks
 * the budget under another that asked for more, and the bound does not depend on the order of initialisation.
 *
 * <p>A writer that would pass the cap waits until an upload in flight gives memory back; it never fails for lack
 * of memory. When nothing is in flight (every byte under the cap sits in partly filled blocks of sessions that
 * are idle), waiting would never end, so the writer gets its buffer beyond the cap instead; the overdraft is one
 * block per such session at most and is paid back as those blocks are staged. Read-ahead never waits: it only
 * takes memory that is free. Buffers kept for reuse count against the budget too: they are dropped before a
 * caller would have to wait for their room.
 */
final class BufferPool {
    /** The budget while no instance has set one: {@code MaxBufferMemory}'s default. */
    static final long DEFAULT_CAPACITY = StorageConfig.defaultNumber("MaxBufferMemory");
    /** Buffers kept for reuse, of all sizes together; beyond that they are left to the collector. */
    private static final int KEEP_FREE = 8;
    /** How often a waiting writer looks whether its session has been dropped meanwhile. */
    private static final long WAIT_SLICE_MS = 50;

    static final BufferPool SHARED = new BufferPool(DEFAULT_CAPACITY);

    private final long defaultCapacity;
    private long capacity;
    private final Map<Object, Long> wanted = new IdentityHashMap<>();
    private long used;
    /** Bytes of buffers whose upload is under way: they come back without anyone else's help. */
    private long inFlight;

    private final Map<Integer, ArrayDeque<byte[]>> free = new HashMap<>();
    private int freeCount;
    private long freeBytes;

    BufferPool(long capacity) {
        this.defaultCapacity = capacity;
        this.capacity = capacity;
    }

    /** {@code owner} (one library instance) asks for a budget of {@code bytes}, until {@link #leave}. */
    synchronized void join(Object owner, long bytes) {
        wanted.put(owner, bytes);
        resize();
    }

    synchronized void leave(Object owner) {
        if (wanted.remove(owner) != null) {
            resize();
        }
    }

    private void resize() {
        long largest = 0;
        for (long bytes : wanted.values()) {
            largest = Math.max(largest, bytes);
        }
        capacity = wanted.isEmpty() ? defaultCapacity : largest;
        trimFree();
        notifyAll();
    }

    synchronized long capacity() {
        return capacity;
    }

    synchronized long used() {
        return used;
    }

    /** Bytes of buffers kept for reuse. */
    synchronized long kept() {
        return freeBytes;
    }

    /**
     * A buffer of exactly {@code size} bytes, waiting for memory while uploads in flight can free some; CANCELLED as
     * soon as {@code dropped} says the caller's session has ended.
     */
    byte[] acquire(int size, BooleanSupplier dropped) throws InterruptedException {
        synchronized (this) {
            while (used + size > capacity && inFlight > 0) {
                if (dropped.getAsBoolean()) {
                    throw StorageFailure.of(ERRORID.CANCELLED);
                }
                wait(WAIT_SLICE_MS);
            }
            if (dropped.getAsBoolean()) {
                throw StorageFailure.of(ERRORID.CANCELLED);
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

    synchronized void release(byte[] buffer, boolean wasInFlight) {
        used -= buffer.length;
        if (wasInFlight) {
            inFlight -= buffer.length;
        }
        if (freeCount < KEEP_FREE && used + freeBytes + buffer.length <= capacity) {
            free.computeIfAbsent(buffer.length, n -> new ArrayDeque<>()).push(buffer);
            freeCount++;
            freeBytes += buffer.length;
        }
        notifyAll();
    }

    private byte[] take(int size) {
        synchronized (this) {
            ArrayDeque<byte[]> same = free.get(size);
            if (same != null) {
                byte[] reused = same.pop();
                forget(reused);
                if (same.isEmpty()) {
                    free.remove(size);
                }
                trimFree();
                return reused;
            }
            trimFree();
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

    /** Keeps what is kept within what the budget has free, largest buffers first to go. */
    private void trimFree() {
        while (freeCount > 0 && used + freeBytes > capacity) {
            int largest = 0;
            for (int size : free.keySet()) {
                largest = Math.max(largest, size);
            }
            ArrayDeque<byte[]> q = free.get(largest);
            forget(q.pop());
            if (q.isEmpty()) {
                free.remove(largest);
            }
        }
    }

    private void forget(byte[] buffer) {
        freeCount--;
        freeBytes -= buffer.length;
    }
}
