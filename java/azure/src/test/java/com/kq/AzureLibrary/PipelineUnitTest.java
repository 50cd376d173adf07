package com.kq.AzureLibrary;

import static org.junit.jupiter.api.Assertions.*;

import com.azure.core.exception.HttpResponseException;
import com.azure.core.http.HttpHeaderName;
import com.azure.core.http.HttpHeaders;
import com.azure.core.http.HttpMethod;
import com.azure.core.http.HttpRequest;
import com.azure.core.http.HttpResponse;
import com.azure.core.util.FluxUtil;
import com.azure.core.util.io.IOUtils;
import com.kq.KQCloudPluginInterface.ERRORID;
import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.io.InterruptedIOException;
import java.io.UncheckedIOException;
import java.net.ConnectException;
import java.net.SocketTimeoutException;
import java.nio.ByteBuffer;
import java.nio.channels.Channels;
import java.nio.channels.ReadableByteChannel;
import java.nio.charset.Charset;
import java.nio.charset.StandardCharsets;
import java.time.Duration;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.concurrent.CancellationException;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.ConcurrentHashMap;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.TimeoutException;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicInteger;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;
import org.junit.jupiter.params.provider.ValueSource;
import reactor.core.publisher.Flux;
import reactor.core.publisher.Mono;

/** The data path's pure parts: the buffer budget, the retry and deadline arithmetic, the handles. No emulator. */
class PipelineUnitTest {
    /** A service answer made in the test: a bare one, as the SDK hands it to a retry decision, or any body. */
    static final class Answer extends HttpResponse {
        private final int status;
        private final HttpHeaders headers;
        private final Flux<ByteBuffer> body;

        Answer(int status, String... headerPairs) {
            this(new HttpRequest(HttpMethod.GET, "http://127.0.0.1/x"), status, new HttpHeaders(), Flux.empty());
            for (int i = 0; i + 1 < headerPairs.length; i += 2) {
                headers.set(HttpHeaderName.fromString(headerPairs[i]), headerPairs[i + 1]);
            }
        }

        Answer(HttpRequest request, int status, HttpHeaders headers, Flux<ByteBuffer> body) {
            super(request);
            this.status = status;
            this.headers = headers;
            this.body = body;
        }

        @Override
        public int getStatusCode() {
            return status;
        }

        @Override
        @Deprecated
        public String getHeaderValue(String name) {
            return headers.getValue(HttpHeaderName.fromString(name));
        }

        @Override
        public HttpHeaders getHeaders() {
            return headers;
        }

        @Override
        public Flux<ByteBuffer> getBody() {
            return body;
        }

        @Override
        public Mono<byte[]> getBodyAsByteArray() {
            return FluxUtil.collectBytesInByteBufferStream(body);
        }

        @Override
        public Mono<String> getBodyAsString() {
            return getBodyAsString(StandardCharsets.UTF_8);
        }

        @Override
        public Mono<String> getBodyAsString(Charset charset) {
            return getBodyAsByteArray().map(b -> new String(b, charset));
        }
    }

    static HttpResponseException failure(int status, String... headers) {
        return new HttpResponseException("status " + status, new Answer(status, headers));
    }

    @Test
    void theBufferBudgetNeverTakesMoreThanAQuarterOfTheHeap() {
        long mib = 1024 * 1024;
        assertEquals(72 * mib, DataPath.bufferBudget(72 * mib, 1024 * mib));
        assertEquals(16 * mib, DataPath.bufferBudget(72 * mib, 64 * mib));
        assertEquals(72 * mib, DataPath.bufferBudget(72 * mib, Long.MAX_VALUE), "a VM without a heap limit");
    }

    @Test
    void aWriterWaitsForMemoryInFlightUntilItsSessionIsDroppedAndNeverDeadlocksOnIdleBuffers() throws Exception {
        BufferPool pool = new BufferPool(100);
        AtomicBoolean never = new AtomicBoolean();
        byte[] idle = pool.acquire(60, never::get);
        // Nothing in flight: waiting would never end, so the cap is passed rather than hang.
        byte[] overdraft = pool.acquire(60, never::get);
        assertEquals(120, pool.used());
        assertNull(pool.tryAcquire(1), "read-ahead takes only free memory");
        pool.markInFlight(overdraft);
        CompletableFuture<byte[]> waiting = TestSupport.onItsOwnThread(() -> pool.acquire(30, never::get));
        AtomicBoolean dropped = new AtomicBoolean();
        CompletableFuture<byte[]> abandoned = TestSupport.onItsOwnThread(() -> pool.acquire(30, dropped::get));
        Thread.sleep(200);
        assertFalse(waiting.isDone(), "an upload in flight will give memory back: wait for it");
        dropped.set(true);
        ExecutionException cancelled = assertThrows(ExecutionException.class, () -> abandoned.get(1, TimeUnit.SECONDS));
        assertEquals(ERRORID.CANCELLED, ErrorMapper.classify(cancelled.getCause()), "a dropped session waits no more");
        pool.release(overdraft, true);
        assertEquals(30, waiting.get(5, TimeUnit.SECONDS).length);
        assertEquals(90, pool.used());
        pool.release(idle, false);
        assertNotNull(pool.tryAcquire(10));
    }

    @Test
    void buffersOfMixedSizesAreReusedWithinTheBudget() throws Exception {
        BufferPool pool = new BufferPool(1000);
        AtomicBoolean never = new AtomicBoolean();
        byte[] block = pool.acquire(400, never::get);
        byte[] small = pool.acquire(50, never::get);
        pool.release(block, false);
        pool.release(small, false);
        assertSame(block, pool.acquire(400, never::get), "a block comes back after a small buffer was released");
        assertSame(small, pool.acquire(50, never::get));
        byte[] other = pool.acquire(500, never::get);
        pool.release(other, false);
        assertEquals(500, pool.kept());
        pool.acquire(100, never::get); // 400 + 50 + 100 used: the kept 500 no longer fits beside them
        assertEquals(0, pool.kept(), "kept buffers never take memory the budget must give to a caller");
    }

    @Test
    void thePoolOfSeveralInstancesIsTheLargestOfTheirBudgetsWhateverTheOrder() {
        BufferPool pool = new BufferPool(72);
        Object a = new Object();
        Object b = new Object();
        pool.join(a, 100);
        pool.join(b, 40); // initialised last, asked for less: the first keeps its budget
        assertEquals(100, pool.capacity());
        pool.leave(a);
        assertEquals(40, pool.capacity());
        pool.join(a, 100);
        pool.leave(b);
        pool.leave(b);
        assertEquals(100, pool.capacity());
        pool.leave(a);
        assertEquals(72, pool.capacity(), "no instance: the default");
    }

    /**
     * Ranges a stream keeps ahead: the reader's rate (bytes per call over a 1 s call) times one range's fetch time,
     * in 8 MiB ranges, plus one, plus what the reader's waits for ranges in flight added; never more than the cap.
     */
    @ParameterizedTest(name = "{0}")
    @CsvSource({
        "nothing measured yet: a small start,            -1,  -1, 0, 12, 2",
        "each wait before any measure grows the start,   -1,  -1, 3, 12, 6",
        "a slow reader holds only what it needs,         10, 100, 0, 12, 2",
        "a fast reader over a far link: rate x delay,   100, 500, 0, 12, 7",
        "a reader still waiting gets more,              100, 500, 3, 12, 11",
        "never past the cap,                            400, 900, 4, 12, 12",
        "the cap holds before any measure too,           -1,  -1, 9,  3, 3"
    })
    void readAheadCoversTheLinksBandwidthTimesDelay(
            String what, int mbPerS, int fetchMs, int waits, int most, int expected) {
        ReadAhead.Window w = new ReadAhead.Window(most);
        if (mbPerS >= 0) {
            w.fetched(fetchMs * 1_000_000L);
            w.read(0, false, 0);
            w.read(mbPerS * 1_000_000L, false, 1_000_000_000L);
        }
        for (int i = 0; i < waits; i++) {
            w.read(0, true, -1); // a wait that measures no rate
        }
        assertEquals(expected, w.ahead(8L << 20), what);
    }

    @ParameterizedTest(name = "HTTP {0}")
    @ValueSource(ints = {500, 502, 503, 429, 408, 501, 505, 400, 403, 404, 409, 412, 416})
    void onlyServerTroubleAndThrottlingAreRetried(int status) {
        assertEquals(Set.of(500, 502, 503, 429, 408).contains(status), RetryPolicy.retryable(failure(status)));
    }

    @Test
    void transportFailuresAndDamagedRangesAreRetriedAndRetryAfterIsHonoured() {
        assertTrue(RetryPolicy.retryable(new IllegalStateException(new ConnectException("refused"))));
        assertTrue(RetryPolicy.retryable(new TimeoutException()));
        // OkHttp's time limits as the SDK hands them on: socket limits, and the call limit of a trickling server.
        for (Throwable timedOut : new Throwable[] {
            new SocketTimeoutException("Read timed out"),
            new UncheckedIOException(new InterruptedIOException("timeout")),
            new IllegalStateException(new IOException("canceled", new SocketTimeoutException("connect timed out")))
        }) {
            assertEquals(ERRORID.TIMEOUT, ErrorMapper.classify(timedOut), timedOut.toString());
            assertTrue(RetryPolicy.retryable(timedOut), timedOut.toString());
        }
        assertTrue(RetryPolicy.retryable(StorageFailure.of(ERRORID.INTEGRITY_ERROR)));
        assertFalse(RetryPolicy.retryable(StorageFailure.of(ERRORID.PRECONDITION_FAILED)));
        // How the SDK reports a listing it cannot parse: the service answered, so not a network failure to retry.
        RuntimeException unparsed = new RuntimeException(
                new IOException(new javax.xml.stream.XMLStreamException("Illegal XML character (0xffff)")));
        assertEquals(ERRORID.FAILURE, ErrorMapper.classify(unparsed));
        assertFalse(RetryPolicy.retryable(unparsed));
        assertEquals(Duration.ofSeconds(3), RetryPolicy.retryAfter(failure(503, "Retry-After", "3")));
        assertEquals(Duration.ofMillis(250), RetryPolicy.retryAfter(failure(429, "x-ms-retry-after-ms", "250")));
        assertNull(RetryPolicy.retryAfter(failure(503, "Retry-After", "Wed, 21 Oct 2015 07:28:00 GMT")));
        for (int next = 2; next < 12; next++) {
            long ms = RetryPolicy.backoff(next, null).toMillis();
            long full = Math.min(8000, 500L << (next - 2));
            assertTrue(ms <= full && ms >= full * 0.8, next + ": " + ms);
        }
    }

    /** A clock that moves only when the policy sleeps or a try says it took time. */
    static final class FakeClock implements RetryPolicy.Clock {
        long now;
        final List<Duration> sleeps = new ArrayList<>();

        @Override
        public long nanoTime() {
            return now;
        }

        @Override
        public void sleep(Duration d) {
            sleeps.add(d);
            now += d.toNanos();
        }
    }

    @Test
    void aTryEndsAtItsTimeOrAtOnceWhenTheDataPathStops() throws Exception {
        Set<CompletableFuture<?>> live = ConcurrentHashMap.newKeySet();
        AtomicBoolean cancelled = new AtomicBoolean();
        assertThrows(
                TimeoutException.class,
                () -> DataPath.await(
                        Mono.never().doOnCancel(() -> cancelled.set(true)), Duration.ofMillis(50), live, () -> false));
        assertTrue(cancelled.get(), "a try past its time is cancelled, which closes its connection");

        CompletableFuture<Object> caller = TestSupport.onItsOwnThread(
                () -> DataPath.await(Mono.never(), Duration.ofSeconds(60), live, () -> false));
        long until = System.nanoTime() + TimeUnit.SECONDS.toNanos(5);
        while (live.isEmpty() && System.nanoTime() < until) {
            Thread.sleep(5);
        }
        live.forEach(f -> f.cancel(true)); // what stopping the data path does to the tries of every thread
        ExecutionException stopped = assertThrows(ExecutionException.class, () -> caller.get(2, TimeUnit.SECONDS));
        assertEquals(ERRORID.CANCELLED, ErrorMapper.classify(stopped.getCause()));
        StorageFailure late = assertThrows(
                StorageFailure.class, () -> DataPath.await(Mono.never(), Duration.ofSeconds(60), live, () -> true));
        assertEquals(ERRORID.CANCELLED, late.id, "made after the stop");
        assertTrue(live.isEmpty(), "no try is left registered");
    }

    @Test
    void triesAreTimedByTheirBytesAndAllEndByTheCallDeadline() {
        RetryPolicy policy = new RetryPolicy(10, Duration.ofSeconds(2), 1024 * 1024, Duration.ofSeconds(30));
        assertEquals(Duration.ofSeconds(10), policy.tryTimeout(8L * 1024 * 1024), "2 s + 8 MiB at 1 MiB/s");
        assertEquals(Duration.ofSeconds(30), policy.tryTimeout(1L << 40), "never beyond the call's deadline");

        FakeClock clock = new FakeClock();
        List<Duration> limits = new ArrayList<>();
        RuntimeException timedOut = assertThrows(
                RuntimeException.class,
                () -> policy.run(
                        8L * 1024 * 1024,
                        t -> {
                            limits.add(t);
                            clock.now += t.toNanos(); // each try hangs for all it is given
                            throw new TimeoutException();
                        },
                        clock));
        long total = clock.now;
        assertTrue(total <= Duration.ofSeconds(30).toNanos(), "ended by the deadline: " + total);
        assertTrue(limits.size() >= 2, "tried again after a time-out");
        assertEquals(ERRORID.TIMEOUT, ErrorMapper.classify(timedOut));

        FakeClock busy = new FakeClock();
        AtomicInteger tries = new AtomicInteger();
        assertEquals(
                "done",
                policy.run(
                        10,
                        t -> {
                            if (tries.incrementAndGet() < 3) {
                                throw failure(429, "Retry-After", "2");
                            }
                            return "done";
                        },
                        busy));
        assertEquals(List.of(Duration.ofSeconds(2), Duration.ofSeconds(2)), busy.sleeps, "the service's pause");

        HttpResponseException refusal = failure(403);
        assertEquals(1, tries(policy, refusal, refusal), "a refusal is the answer, not retried");
        // A refusal of a replaced key is tried again; when tries run out the refusal itself is the answer.
        int stale = tries(policy, new RetryPolicy.StaleCredentials(refusal), refusal);
        assertTrue(stale > 1, "tried again: " + stale);
    }

    /** How many tries a call made whose every try failed with {@code failure}, ending in {@code answer}. */
    private static int tries(RetryPolicy policy, RuntimeException failure, RuntimeException answer) {
        AtomicInteger tries = new AtomicInteger();
        RuntimeException thrown = assertThrows(
                RuntimeException.class,
                () -> policy.run(
                        10,
                        t -> {
                            tries.incrementAndGet();
                            throw failure;
                        },
                        new FakeClock()));
        assertSame(answer, thrown);
        return tries.get();
    }

    /** A body of {@code bytes}, one byte a read: the most writes a body can cost. */
    private static ReadableByteChannel oneByteAtATime(byte[] bytes) {
        return Channels.newChannel(new ByteArrayInputStream(bytes) {
            @Override
            public synchronized int read(byte[] b, int off, int len) {
                return super.read(b, off, Math.min(len, 1));
            }

            @Override
            public synchronized int available() {
                return 0; // what makes the channel return after each byte
            }
        });
    }

    @Test
    void aRangeTargetTakesABodyOfAnyLengthAtAConstantStackDepthAndNothingPastItsRangeOrItsTry() {
        byte[] body = TestSupport.data(7, 300_000);
        byte[] target = new byte[body.length + 2];
        RangeTarget into = new RangeTarget(target, 2, body.length, null, null);
        // Completions nested one per write would overflow the stack long before 300,000 of them.
        IOUtils.transferAsync(oneByteAtATime(body), into, (long) body.length).block(Duration.ofSeconds(60));
        assertEquals(body.length, into.filled());
        assertArrayEquals(body, Arrays.copyOfRange(target, 2, target.length));

        RangeTarget full = new RangeTarget(new byte[4], 0, 4, null, null);
        assertThrows(
                IllegalStateException.class,
                () -> IOUtils.transferAsync(oneByteAtATime(new byte[5]), full).block(Duration.ofSeconds(10)));
        into.end();
        assertThrows(
                CancellationException.class,
                () -> IOUtils.transferAsync(oneByteAtATime(new byte[1]), into).block(Duration.ofSeconds(10)));
        assertEquals(body.length, into.filled());
    }

    @Test
    void handlesAreRandomAndClosedOnesStayHandles() {
        Set<String> seen = new HashSet<>();
        for (int i = 0; i < 1000; i++) {
            String h = HandleTokens.newHandle();
            assertTrue(h.matches("kqh-[0-9a-f]{32}"), h);
            assertTrue(seen.add(h));
        }
        HandleTokens tokens = new HandleTokens();
        tokens.retire("kqh-1");
        for (int i = 0; i < HandleTokens.RETIRED_KEPT; i++) {
            tokens.retire("kqh-x" + i);
        }
        assertFalse(tokens.isRetired("kqh-1"), "the oldest are forgotten: memory stays bounded");
        assertTrue(tokens.isRetired("kqh-x" + (HandleTokens.RETIRED_KEPT - 1)));
    }

    @Test
    void contentRangeTotals() throws IOException {
        assertEquals(1234, DataPath.lengthOf("bytes 0-99/1234"));
        assertEquals(-1, DataPath.lengthOf("bytes 0-99/*"));
        assertEquals(-1, DataPath.lengthOf(null));
    }
}
