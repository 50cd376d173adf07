package com.kq.AzureLibrary;

import com.azure.core.http.HttpHeaderName;
import com.azure.core.http.HttpPipeline;
import com.azure.core.http.HttpPipelineBuilder;
import com.azure.core.http.policy.HttpPipelinePolicy;
import com.azure.core.http.rest.Response;
import com.azure.storage.blob.BlobContainerAsyncClient;
import com.azure.storage.blob.BlobContainerClientBuilder;
import com.azure.storage.blob.models.BlobDownloadAsyncResponse;
import com.azure.storage.blob.models.BlobDownloadHeaders;
import com.azure.storage.blob.models.BlobRange;
import com.azure.storage.blob.models.BlobRequestConditions;
import com.azure.storage.blob.models.BlobStorageException;
import com.azure.storage.blob.models.BlockBlobItem;
import com.azure.storage.blob.models.BlockList;
import com.azure.storage.blob.models.BlockListType;
import com.azure.storage.blob.models.DownloadRetryOptions;
import com.azure.storage.blob.options.BlockBlobCommitBlockListOptions;
import com.azure.storage.blob.specialized.BlockBlobAsyncClient;
import com.azure.storage.common.policy.RequestRetryPolicy;
import com.kq.KQCloudPluginInterface.ERRORID;
import java.nio.ByteBuffer;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.time.Duration;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.concurrent.Callable;
import java.util.concurrent.CancellationException;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.ConcurrentHashMap;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.RejectedExecutionException;
import java.util.concurrent.Semaphore;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.TimeoutException;
import java.util.function.BooleanSupplier;
import java.util.function.IntConsumer;
import java.util.function.Supplier;
import reactor.core.publisher.Flux;
import reactor.core.publisher.Mono;

/**
 * The data requests of one connection: block staging, whole uploads, commits and ranged reads, each under the
 * library's own {@link RetryPolicy} and each try under its own time limit, and the library's worker threads that
 * run write-behind and parallel reads.
 *
 * <p>These requests go through a pipeline derived from the connection's (same HTTP client, same credentials and
 * headers) without the SDK's retry policy: the SDK retries a ranged download by re-subscribing to its body, which
 * not every transport supports (the JDK's client did not), and a retry here must resend a block from its buffer or
 * a range from its offset. A try that runs
 * past its limit is cancelled, which closes its connection; the worker thread waiting for it moves on.
 *
 * <p>Every upload carries the body's MD5, which the service checks before it keeps anything; a range of at most
 * 4 MiB is fetched with the service's MD5 of the range and checked here, and a range of whole blocks staged by
 * this library is checked against the blocks' own sums ({@link BlockLayout}).
 */
final class DataPath implements AutoCloseable {
    /** The service computes a range's MD5 only up to this size. */
    static final int MD5_RANGE_LIMIT = 4 * 1024 * 1024;
    /** What a block list answer is sized as, for its try's time limit (about 100 bytes a block). */
    private static final long LAYOUT_BYTES = 1024 * 1024;
    /**
     * How long {@link #close()} waits for the workers once their requests are cancelled. They end at once in
     * practice: every wait of theirs is a try (cancelled), a back-off (cut short) or the pool (given back).
     */
    static final long CLOSE_WAIT_SECONDS = 3;

    /** Tests put a fault injector here; it joins every pipeline built after. */
    static volatile HttpPipelinePolicy testPolicy;

    final RetryPolicy retry;
    final int maxInFlight;
    final int readAhead;
    /** Bytes per ranged read of whole blocks checked by their own sums ({@link RangePlan}). */
    final int rangeSize;
    /** Bytes per ranged read otherwise: small enough for the service to return the range's MD5. */
    final int checkedRange;

    final BufferPool pool = BufferPool.SHARED;
    private final StorageConnection connection;
    private volatile BlobContainerAsyncClient container;
    /** The connection's {@link StorageConnection#generation()} that {@link #container} was built from. */
    private volatile int containerGeneration;

    private final ExecutorService workers;
    /** The tries under way on any thread, so that {@link #stop()} can cancel them all. */
    private final Set<CompletableFuture<?>> tries = ConcurrentHashMap.newKeySet();
    /** Counted down once by {@link #stop()}: no request starts after it, and back-offs end at once. */
    private final CountDownLatch stopped = new CountDownLatch(1);

    private final RetryPolicy.Clock clock = new RetryPolicy.Clock() {
        @Override
        public long nanoTime() {
            return System.nanoTime();
        }

        @Override
        public void sleep(Duration d) throws InterruptedException {
            if (stopped.await(d.toMillis(), TimeUnit.MILLISECONDS)) {
                throw StorageFailure.of(ERRORID.CANCELLED); // not an interrupt: the caller's thread keeps its state
            }
        }
    };

    DataPath(StorageConnection connection) {
        this.connection = connection;
        StorageConfig config = connection.config;
        this.retry = config.transfer.retryPolicy(config.maxTries);
        this.maxInFlight = config.transfer.maxInFlight;
        this.readAhead = config.transfer.readAhead;
        this.rangeSize = config.transfer.rangeSize;
        this.checkedRange = Math.min(rangeSize, MD5_RANGE_LIMIT);
        this.containerGeneration = connection.generation();
        this.container = buildContainer();
        pool.join(
                this,
                bufferBudget(
                        config.transfer.maxBufferMemory, Runtime.getRuntime().maxMemory()));
        this.workers = Executors.newCachedThreadPool(DaemonThreads.named("transfer"));
    }

    /** The data pipeline: the connection's current one (credentials included) without the SDK's retry step. */
    private BlobContainerAsyncClient buildContainer() {
        HttpPipeline shared = connection.service.getHttpPipeline();
        List<HttpPipelinePolicy> policies = new ArrayList<>();
        for (int i = 0; i < shared.getPolicyCount(); i++) {
            HttpPipelinePolicy p = shared.getPolicy(i);
            if (!(p instanceof RequestRetryPolicy)) {
                policies.add(p);
            }
        }
        HttpPipelinePolicy injected = testPolicy;
        if (injected != null) {
            policies.add(injected);
        }
        HttpPipeline pipeline = new HttpPipelineBuilder()
                .httpClient(shared.getHttpClient())
                .policies(policies.toArray(new HttpPipelinePolicy[0]))
                .build();
        return new BlobContainerClientBuilder()
                .pipeline(pipeline)
                .endpoint(connection.container.getBlobContainerUrl())
                .buildAsyncClient();
    }

    /**
     * The pool's size: {@code MaxBufferMemory}, but never more than a quarter of the VM's heap, which the host
     * shares. The rest must hold the callers' own arrays (one block each per call) and the library's working set;
     * a pool that fills a small heap would turn backpressure into OutOfMemoryError.
     */
    static long bufferBudget(long configured, long maxHeap) {
        return Math.max(1024L * 1024, Math.min(configured, maxHeap / 4));
    }

    /**
     * The data pipeline of the connection's current clients: built again the first time it is asked for after a
     * rotation swapped them. The generation is read before the clients, so a rotation in between only makes the
     * next caller build once more.
     */
    private BlobContainerAsyncClient container() {
        int current = connection.generation();
        if (containerGeneration != current) {
            synchronized (this) {
                if (containerGeneration != current) {
                    container = buildContainer();
                    containerGeneration = current;
                }
            }
        }
        return container;
    }

    /**
     * Runs one data request with its retries. A try refused as unauthorised while a rotation swapped the clients
     * was signed with the old secret: it is sent again with the new one instead of failing the call.
     */
    private <T> T requests(long bytes, RetryPolicy.Attempt<T> attempt) {
        return retry.run(
                bytes,
                timeout -> {
                    if (isStopped()) {
                        throw StorageFailure.of(ERRORID.CANCELLED);
                    }
                    int before = connection.generation();
                    try {
                        return attempt.run(timeout);
                    } catch (BlobStorageException e) {
                        int status = e.getStatusCode();
                        if ((status == 401 || status == 403) && connection.generation() != before) {
                            throw new RetryPolicy.StaleCredentials(e);
                        }
                        throw e;
                    }
                },
                clock);
    }

    /** Deletes (or other small requests) of one call in flight at once: each waits a round trip, not for bytes. */
    static final int DELETES_AT_ONCE = 32;

    /**
     * Runs {@code task(i)} for every i below {@code n} on the workers, at most {@code atOnce} at a time, each
     * whatever the others did; answers what each threw, null where it succeeded. An interrupt cancels those not
     * done and answers CANCELLED.
     */
    Throwable[] eachAtOnce(int n, int atOnce, IntConsumer task) {
        Throwable[] failures = new Throwable[n];
        Semaphore slots = new Semaphore(atOnce);
        List<Future<?>> started = new ArrayList<>();
        try {
            for (int i = 0; i < n; i++) {
                int k = i;
                slots.acquire();
                started.add(submit(() -> {
                    try {
                        task.accept(k);
                    } catch (Throwable t) {
                        failures[k] = t;
                    } finally {
                        slots.release();
                    }
                    return null;
                }));
            }
            for (Future<?> f : started) {
                f.get();
            }
        } catch (InterruptedException e) {
            for (Future<?> f : started) {
                f.cancel(true);
            }
            Thread.currentThread().interrupt();
            throw StorageFailure.of(ERRORID.CANCELLED);
        } catch (ExecutionException e) {
            throw unwrap(e); // the task catches everything: only a bug gets here
        }
        return failures;
    }

    /** Runs a task on a worker; CANCELLED once the data path has stopped. */
    void execute(Runnable task) {
        try {
            workers.execute(task);
        } catch (RejectedExecutionException e) {
            throw StorageFailure.of(ERRORID.CANCELLED);
        }
    }

    <T> Future<T> submit(Callable<T> task) {
        try {
            return workers.submit(task);
        } catch (RejectedExecutionException e) {
            throw StorageFailure.of(ERRORID.CANCELLED);
        }
    }

    boolean isStopped() {
        return stopped.getCount() == 0;
    }

    /**
     * Ends every request of this data path at once, on whatever thread it runs (workers and callers alike): tries
     * under way are cancelled (their connections closed), back-offs cut short, queued tasks dropped, and no request
     * starts after. Returns without waiting; the calls that were in them answer CANCELLED.
     */
    void stop() {
        stopped.countDown();
        for (CompletableFuture<?> t : tries) {
            t.cancel(true);
        }
        for (Runnable never : workers.shutdownNow()) {
            if (never instanceof Future) {
                ((Future<?>) never).cancel(false); // gives back what a task that never ran was holding
            }
        }
        pool.leave(this);
    }

    /** {@link #stop()}, then waits (at most {@link #CLOSE_WAIT_SECONDS}) until the workers have all ended. */
    @Override
    public void close() {
        stop();
        try {
            workers.awaitTermination(CLOSE_WAIT_SECONDS, TimeUnit.SECONDS);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    private <T> T writing(Supplier<T> write) {
        return connection.creatingContainer(write);
    }

    private BlockBlobAsyncClient blob(String name) {
        return container().getBlobAsyncClient(name).getBlockBlobAsyncClient();
    }

    static byte[] md5(byte[] data, int off, int len) {
        MessageDigest digest = newMd5();
        digest.update(data, off, len);
        return digest.digest();
    }

    static MessageDigest newMd5() {
        try {
            return MessageDigest.getInstance("MD5");
        } catch (NoSuchAlgorithmException e) {
            throw new IllegalStateException(e);
        }
    }

    /**
     * Waits for one try, cancelling it (and so closing its connection) when its time is up or the data path stops.
     * The time limit is the future's own, so a timeout is told by its type, never by the text of a message.
     */
    <T> T await(Mono<T> request, Duration timeout) throws TimeoutException {
        return await(request, timeout, tries, this::isStopped);
    }

    static <T> T await(Mono<T> request, Duration timeout, Set<CompletableFuture<?>> live, BooleanSupplier stopped)
            throws TimeoutException {
        CompletableFuture<T> pending = request.toFuture();
        live.add(pending);
        try {
            if (stopped.getAsBoolean()) {
                pending.cancel(true); // stopped while this try was being made
            }
            return pending.get(timeout.toNanos(), TimeUnit.NANOSECONDS);
        } catch (TimeoutException e) {
            throw new TimeoutException("try timed out after " + timeout.toMillis() + " ms");
        } catch (CancellationException e) {
            throw StorageFailure.of(ERRORID.CANCELLED);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw StorageFailure.of(ERRORID.CANCELLED);
        } catch (ExecutionException e) {
            if (e.getCause() instanceof Error) {
                throw (Error) e.getCause();
            }
            throw unwrap(e);
        } finally {
            pending.cancel(true); // a try past its time: its subscription, and so its connection, ends here
            live.remove(pending);
        }
    }

    /** Bytes per piece of a request body; see {@link #body}. */
    static final int BODY_SLICE = 256 * 1024;

    /**
     * A request body over the caller's array, in slices. The JDK's NIO socket layer copies each heap buffer it is
     * handed into a temporary direct buffer of the same size and keeps such buffers per thread: one 8 MiB buffer
     * per body left tens of MiB of native memory behind, outside the heap and the pool. OkHttp copies a body into
     * its own 8 KiB segments before the socket sees it, so there the slices cost nothing; they keep any transport
     * that hands buffers to the socket whole from making those copies large.
     */
    static Flux<ByteBuffer> body(byte[] data, int off, int len) {
        int pieces = (len + BODY_SLICE - 1) / BODY_SLICE;
        return Flux.range(0, Math.max(1, pieces)).map(i -> {
            int at = i * BODY_SLICE;
            return ByteBuffer.wrap(data, off + at, Math.min(BODY_SLICE, len - at));
        });
    }

    void stageBlock(String blobName, String blockId, byte[] data, int len) {
        byte[] md5 = md5(data, 0, len);
        long began = RangeTrace.start();
        try {
            writing(() -> requests(
                    len,
                    timeout -> await(
                            blob(blobName).stageBlockWithResponse(blockId, body(data, 0, len), len, md5, null),
                            timeout)));
        } finally {
            RangeTrace.end(began, "put", blobName, -1, len);
        }
    }

    void upload(
            String blobName,
            byte[] data,
            int off,
            int len,
            Map<String, String> metadata,
            BlobRequestConditions conditions) {
        byte[] md5 = md5(data, off, len);
        RetryPolicy.Attempt<Response<BlockBlobItem>> attempt = timeout -> await(
                blob(blobName)
                        .uploadWithResponse(
                                body(data, off, len),
                                len,
                                null,
                                metadata,
                                connection.config.accessTier,
                                md5,
                                conditions),
                timeout);
        if (conditions != null) {
            requests(len, attempt); // an update of an existing object: no container to create
        } else {
            writing(() -> requests(len, attempt));
        }
    }

    void commit(
            String blobName, List<String> blockIds, Map<String, String> metadata, BlobRequestConditions conditions) {
        BlockBlobCommitBlockListOptions options = new BlockBlobCommitBlockListOptions(blockIds)
                .setMetadata(metadata)
                .setTier(connection.config.accessTier)
                .setRequestConditions(conditions);
        writing(() -> requests(
                blockIds.size() * 64L, timeout -> await(blob(blobName).commitBlockListWithResponse(options), timeout)));
    }

    /** Ranged reads are retried here, each try from its offset, never by the SDK re-subscribing to a body. */
    private static final DownloadRetryOptions NO_SDK_RETRY = new DownloadRetryOptions().setMaxRetryRequests(0);

    /** What a ranged read learnt besides the bytes. */
    static final class RangeInfo {
        final int bytes;
        final String eTag;
        final Map<String, String> metadata;
        /** The whole object's length as the service reported it, -1 if it did not. */
        final long objectLength;

        RangeInfo(int bytes, String eTag, Map<String, String> metadata, long objectLength) {
            this.bytes = bytes;
            this.eTag = eTag;
            this.metadata = metadata;
            this.objectLength = objectLength;
        }
    }

    /**
     * Reads {@code count} bytes from {@code offset} into {@code target[at..]}; each try starts the range over.
     * With an ETag the read is bound to that version (PRECONDITION_FAILED otherwise).
     */
    RangeInfo readRange(String blobName, byte[] target, int at, long offset, int count, String eTag) {
        return readRange(blobName, target, at, offset, count, eTag, null);
    }

    /**
     * As {@link #readRange(String, byte[], int, long, int, String)}; with {@code sums} the range is whole blocks,
     * checked against the sums they were staged with instead of an MD5 from the service.
     */
    RangeInfo readRange(
            String blobName,
            byte[] target,
            int at,
            long offset,
            int count,
            String eTag,
            Supplier<BlockLayout.Check> sums) {
        long began = RangeTrace.start();
        try {
            return readRangeTries(blobName, target, at, offset, count, eTag, sums);
        } finally {
            RangeTrace.end(began, "get", blobName, offset, count);
        }
    }

    private RangeInfo readRangeTries(
            String blobName,
            byte[] target,
            int at,
            long offset,
            int count,
            String eTag,
            Supplier<BlockLayout.Check> sums) {
        BlobRequestConditions conditions = eTag == null ? null : new BlobRequestConditions().setIfMatch(eTag);
        boolean withMd5 = sums == null && count <= MD5_RANGE_LIMIT;
        return requests(count, timeout -> {
            RangeTarget into =
                    new RangeTarget(target, at, count, withMd5 ? newMd5() : null, sums == null ? null : sums.get());
            Mono<BlobDownloadHeaders> request = blob(blobName)
                    .downloadStreamWithResponse(new BlobRange(offset, (long) count), NO_SDK_RETRY, conditions, withMd5)
                    .flatMap((BlobDownloadAsyncResponse r) ->
                            r.writeValueToAsync(into, null).then(Mono.just(r.getDeserializedHeaders())));
            BlobDownloadHeaders headers;
            try {
                headers = await(request, timeout);
            } finally {
                into.end();
            }
            byte[] expected = headers.getContentMd5();
            if (!into.passed(expected)) {
                throw StorageFailure.of(ERRORID.INTEGRITY_ERROR); // damaged on the way: fetched again
            }
            Map<String, String> metadata = headers.getMetadata();
            return new RangeInfo(
                    into.filled(),
                    headers.getETag(),
                    metadata == null ? Collections.<String, String>emptyMap() : metadata,
                    lengthOf(headers.getContentRange()));
        });
    }

    /**
     * Asks for the first range of an object a read session opens, in place of its properties ({@link FirstRange});
     * null, with nothing held, when it cannot stand in for them: read-ahead off, no pool memory free now, or an
     * answer that is an error (a missing, archived or empty object), which the properties then answer as always.
     * A failure of the link itself, after the retries, is the open's.
     */
    FirstRange firstRange(String blobName) {
        if (readAhead == 0) {
            return null;
        }
        byte[] buffer = pool.tryAcquire(checkedRange);
        if (buffer == null) {
            return null;
        }
        long traced = RangeTrace.start();
        long requested = System.nanoTime();
        BlobDownloadAsyncResponse r = null;
        FirstRange first = null;
        try {
            r = requests(
                    checkedRange,
                    timeout -> await(
                            blob(blobName)
                                    .downloadStreamWithResponse(
                                            new BlobRange(0, (long) checkedRange), NO_SDK_RETRY, null, true),
                            timeout));
            first = FirstRange.of(this, blobName, r, buffer, requested, traced);
            return first;
        } catch (BlobStorageException e) {
            return null;
        } finally {
            if (first == null) {
                if (r != null) {
                    FirstRange.close(r);
                }
                pool.release(buffer, false);
                RangeTrace.end(traced, "get", blobName, 0, checkedRange);
            }
        }
    }

    /**
     * The committed blocks of the object as this library staged them, or null when they do not all carry its sums
     * or no longer make up the version {@code eTag} of {@code objectLength} bytes.
     */
    BlockLayout blockLayout(String blobName, String eTag, long objectLength) {
        Response<BlockList> r = requests(
                LAYOUT_BYTES,
                timeout -> await(blob(blobName).listBlocksWithResponse(BlockListType.COMMITTED, null), timeout));
        String version = r.getHeaders().getValue(HttpHeaderName.ETAG);
        if (version != null && eTag != null && !version.equals(eTag)) {
            return null;
        }
        return BlockLayout.of(r.getValue().getCommittedBlocks(), objectLength);
    }

    /**
     * Reads a large span as parallel ranged reads of at most 4 MiB (so each is checked by its MD5), at most
     * {@link #maxInFlight} at once, straight into the caller's array. Without an ETag the first range goes alone
     * and fixes the version (and the object's length) for the others; with one, the span must lie within the
     * object and every range goes at once. Answers the bytes read (fewer at the end of the object).
     */
    RangeInfo readSpan(String blobName, byte[] target, long offset, int count, String eTag) {
        return readSpan(blobName, target, 0, offset, count, eTag);
    }

    /** As {@link #readSpan(String, byte[], long, int, String)}, into {@code target[at..]}. */
    RangeInfo readSpan(String blobName, byte[] target, int at, long offset, int count, String eTag) {
        RangeInfo head = null;
        int from = 0;
        if (eTag == null || count <= checkedRange) {
            from = Math.min(count, checkedRange);
            head = readRange(blobName, target, at, offset, from, eTag);
            if (head.bytes < from || count == from) {
                return head;
            }
            if (head.objectLength >= 0) {
                count = (int) Math.min(count, head.objectLength - offset);
            }
        }
        String version = eTag != null ? eTag : head.eTag;
        int end = count;
        List<Future<RangeInfo>> parts = new ArrayList<>();
        Semaphore slots = new Semaphore(maxInFlight);
        int total = head == null ? 0 : head.bytes;
        try {
            for (int pos = from; pos < end; pos += checkedRange) {
                int n = Math.min(checkedRange, end - pos);
                int p = pos;
                slots.acquire();
                parts.add(submit(() -> {
                    try {
                        return readRange(blobName, target, at + p, offset + p, n, version);
                    } finally {
                        slots.release();
                    }
                }));
            }
            boolean short_ = false;
            for (Future<RangeInfo> part : parts) {
                RangeInfo r = part.get();
                if (head == null) {
                    head = r;
                }
                if (!short_) {
                    total += r.bytes;
                }
                short_ |= r.bytes < checkedRange;
            }
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw StorageFailure.of(ERRORID.CANCELLED);
        } catch (ExecutionException e) {
            throw unwrap(e);
        } catch (CancellationException e) {
            throw StorageFailure.of(ERRORID.CANCELLED); // the data path stopped before the range ran
        } finally {
            for (Future<RangeInfo> part : parts) {
                part.cancel(true);
            }
        }
        return new RangeInfo(total, version, head.metadata, head.objectLength);
    }

    /** The total in a Content-Range answer ("bytes 0-99/1234"); -1 when absent or unreadable. */
    static long lengthOf(String contentRange) {
        if (contentRange == null) {
            return -1;
        }
        int slash = contentRange.lastIndexOf('/');
        try {
            return slash < 0
                    ? -1
                    : Long.parseLong(contentRange.substring(slash + 1).trim());
        } catch (NumberFormatException e) {
            return -1;
        }
    }

    static RuntimeException unwrap(ExecutionException e) {
        Throwable cause = e.getCause();
        if (cause instanceof RuntimeException) {
            return (RuntimeException) cause;
        }
        return new IllegalStateException(cause);
    }
}
