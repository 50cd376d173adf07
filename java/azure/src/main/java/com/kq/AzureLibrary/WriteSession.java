package com.kq.AzureLibrary;

import com.azure.storage.blob.models.BlobRequestConditions;
import com.kq.KQCloudPluginInterface.ERRORID;
import java.security.SecureRandom;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Queue;
import java.util.concurrent.CancellationException;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.Future;
import java.util.concurrent.FutureTask;
import java.util.concurrent.Semaphore;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicBoolean;

/**
 * An object being written, with write-behind: a write returns once its bytes are copied into a block buffer
 * taken from the shared {@link BufferPool}; each full block is staged (uploaded, uncommitted, invisible) by the
 * library's workers, up to {@code MaxInFlight} blocks of the session at once. {@link #commit} waits for every
 * block and commits the block list with the metadata, so the object appears complete and at once. An object no
 * larger than one block is uploaded whole at the commit instead, one request.
 *
 * <p>Calls on one session are serialised by its monitor. A staging that fails (after its retries) spoils the
 * session: the next call, or the commit, answers that first failure, and nothing is committed.
 */
final class WriteSession implements Session {
    /** The service refuses a block list longer than this. */
    static final int MAX_BLOCKS = 50_000;
    /** A small object's buffer starts at this size and doubles up to one block. */
    private static final int FIRST_BUFFER = 64 * 1024;

    private static final SecureRandom RANDOM = new SecureRandom();
    /** How often a writer waiting for a slot looks whether the session has been dropped. */
    private static final long SLOT_WAIT_MS = 50;

    private final String handle;
    private final String blobName;
    private final DataPath data;
    private final int blockSize;
    private final Semaphore slots;
    /** Makes this session's block ids differ from those of any other session staging to the same blob. */
    private final byte[] blockIdSalt = new byte[BlockLayout.SALT_BYTES];

    private final List<String> blockIds = new ArrayList<>();
    /** Blocks under way; {@link #abort} cancels them without waiting for the session's monitor. */
    private final Queue<Future<?>> staging = new ConcurrentLinkedQueue<>();

    private final Map<String, String> storedMetadata = new LinkedHashMap<>();
    private byte[] buffer;
    private int buffered;
    /** The first failure; written by workers, read by the caller's thread. */
    private volatile ERRORID spoilt;
    /** Set by {@link #abort} before it waits for the monitor, so that a writer waiting for room gives up. */
    private volatile boolean dropped;

    private boolean finished;

    WriteSession(String handle, String blobName, DataPath data, int blockSize) {
        this.handle = handle;
        this.blobName = blobName;
        this.data = data;
        this.blockSize = blockSize;
        this.slots = new Semaphore(data.maxInFlight);
        RANDOM.nextBytes(blockIdSalt);
    }

    @Override
    public String handle() {
        return handle;
    }

    @Override
    public String blobName() {
        return blobName;
    }

    /** Metadata to be committed with the data; a name given again replaces the earlier value. */
    synchronized void putMetadata(Map<String, String> stored) {
        failIfSpoilt();
        storedMetadata.putAll(stored);
    }

    synchronized Map<String, String> storedMetadata() {
        return new LinkedHashMap<>(storedMetadata);
    }

    /** Copies the bytes into the session's buffers (the caller's array is not kept) and stages full blocks. */
    synchronized void append(byte[] bytes, int length) {
        failIfSpoilt();
        try {
            int off = 0;
            while (off < length) {
                int n = Math.min(length - off, blockSize - buffered);
                reserve(buffered + n, length - off);
                System.arraycopy(bytes, off, buffer, buffered, n);
                buffered += n;
                off += n;
                if (buffered == blockSize) {
                    stageBuffer();
                }
            }
        } catch (Throwable t) {
            throw spoil(t);
        }
    }

    /**
     * Makes the blob visible: uploads the rest, waits for every block and commits the list with the metadata.
     * With {@code conditions} the commit (or the single upload) is conditional, e.g. If-Match for an update.
     */
    synchronized void commit(BlobRequestConditions conditions) {
        failIfSpoilt();
        try {
            Map<String, String> metadata = new LinkedHashMap<>(storedMetadata);
            if (blockIds.isEmpty()) {
                byte[] body = buffer == null ? new byte[0] : buffer;
                data.upload(blobName, body, 0, buffered, metadata, conditions);
            } else {
                if (buffered > 0) {
                    stageBuffer();
                }
                awaitStaging();
                failIfSpoilt();
                data.commit(blobName, new ArrayList<>(blockIds), metadata, conditions);
            }
            finished = true;
            releaseBuffer();
        } catch (Throwable t) {
            throw spoil(t);
        }
    }

    /**
     * Drops the session: stagings in flight are cancelled, buffers go back, nothing is committed. A call of another
     * thread inside the session (a writer waiting for pool room or for a slot) answers CANCELLED within
     * {@link BufferPool}'s wait slice, so the monitor is free soon after whatever the network does; a call in a
     * request of its own is ended by {@link DataPath#stop()}, which comes first when the library is shut down.
     */
    void abort() {
        dropped = true;
        for (Future<?> f : staging) {
            f.cancel(true);
        }
        synchronized (this) {
            if (spoilt == null) {
                spoilt = ERRORID.CANCELLED;
            }
            for (Future<?> f : staging) {
                f.cancel(true);
            }
            releaseBuffer();
        }
    }

    private boolean isDropped() {
        return dropped || data.isStopped();
    }

    /** The buffer grows by doubling up to one block: a small object never holds a whole block. */
    private void reserve(int needed, int coming) throws InterruptedException {
        if (buffer != null && buffer.length >= needed) {
            return;
        }
        int size;
        if (buffer == null && coming >= blockSize) {
            size = blockSize; // a large write: straight to a full block
        } else {
            int grown = buffer == null ? FIRST_BUFFER : buffer.length * 2;
            size = Math.min(blockSize, Math.max(needed, grown));
        }
        byte[] bigger = data.pool.acquire(size, this::isDropped);
        if (buffer != null) {
            System.arraycopy(buffer, 0, bigger, 0, buffered);
            data.pool.release(buffer, false);
        }
        buffer = bigger;
    }

    private void stageBuffer() throws InterruptedException {
        if (blockIds.size() >= MAX_BLOCKS) {
            throw StorageFailure.of(ERRORID.QUOTA_EXCEEDED);
        }
        // At most MaxInFlight blocks of this session under way: the writer waits here, until the session is dropped
        // (the block stays the session's buffer meanwhile, so a drop gives it back).
        while (!slots.tryAcquire(SLOT_WAIT_MS, TimeUnit.MILLISECONDS)) {
            if (isDropped()) {
                throw StorageFailure.of(ERRORID.CANCELLED);
            }
        }
        byte[] block = buffer;
        int len = buffered;
        // Named after its sum, so that a reader can check whole-block ranges without the service's MD5.
        String id = BlockLayout.blockId(blockIdSalt, blockIds.size(), BlockLayout.crc32c(block, 0, len));
        buffer = null;
        buffered = 0;
        data.pool.markInFlight(block);
        // Whoever claims the block gives it back: the worker when it runs, or the cancellation of a task that
        // never started (a running upload keeps its buffer until its request has ended).
        AtomicBoolean claimed = new AtomicBoolean();
        Runnable giveBack = () -> {
            data.pool.release(block, true);
            slots.release();
        };
        FutureTask<Void> task =
                new FutureTask<Void>(() -> {
                    if (!claimed.compareAndSet(false, true)) {
                        return null;
                    }
                    try {
                        if (spoilt == null) {
                            data.stageBlock(blobName, id, block, len);
                        }
                    } catch (Throwable t) {
                        if (spoilt == null) {
                            spoilt = ErrorMapper.classify(t);
                        }
                    } finally {
                        giveBack.run();
                    }
                    return null;
                }) {
                    @Override
                    protected void done() {
                        if (claimed.compareAndSet(false, true)) {
                            giveBack.run();
                        }
                    }
                };
        staging.add(task);
        try {
            data.execute(task);
        } catch (RuntimeException e) {
            task.cancel(false);
            throw e;
        }
        blockIds.add(id);
        staging.removeIf(Future::isDone);
    }

    private void awaitStaging() throws InterruptedException {
        for (Future<?> f : staging) {
            try {
                f.get();
            } catch (ExecutionException | CancellationException e) {
                if (spoilt == null) {
                    spoilt = ErrorMapper.classify(e.getCause() == null ? e : e.getCause());
                }
            }
        }
        staging.clear();
    }

    private StorageFailure spoil(Throwable t) {
        if (spoilt == null) {
            spoilt = ErrorMapper.classify(t);
        }
        if (!finished) {
            for (Future<?> f : staging) {
                f.cancel(true);
            }
            releaseBuffer();
        }
        return StorageFailure.of(spoilt);
    }

    private void releaseBuffer() {
        if (buffer != null) {
            data.pool.release(buffer, false);
            buffer = null;
            buffered = 0;
        }
    }

    private void failIfSpoilt() {
        ERRORID id = spoilt;
        if (id != null) {
            releaseBuffer();
            throw StorageFailure.of(id);
        }
    }
}
