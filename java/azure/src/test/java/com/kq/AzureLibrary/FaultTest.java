package com.kq.AzureLibrary;

import static com.kq.AzureLibrary.TestSupport.*;
import static com.kq.KQCloudPluginInterface.ERRORID.*;
import static org.junit.jupiter.api.Assertions.*;

import com.azure.core.http.HttpHeaderName;
import com.azure.core.http.HttpMethod;
import com.azure.core.http.HttpPipelineCallContext;
import com.azure.core.http.HttpPipelineNextPolicy;
import com.azure.core.http.HttpRequest;
import com.azure.core.http.HttpResponse;
import com.azure.core.http.policy.HttpPipelinePolicy;
import com.azure.core.util.BinaryData;
import com.azure.storage.blob.BlobContainerClient;
import com.azure.storage.blob.BlobServiceClientBuilder;
import com.azure.storage.blob.models.ParallelTransferOptions;
import com.azure.storage.blob.options.BlobParallelUploadOptions;
import com.kq.KQCloudPluginInterface.CErrorValue;
import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.file.Path;
import java.time.Duration;
import java.util.Arrays;
import java.util.Set;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.ConcurrentHashMap;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.function.Function;
import java.util.function.IntPredicate;
import java.util.function.Predicate;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;
import reactor.core.publisher.Flux;
import reactor.core.publisher.Mono;

/**
 * Faults injected inside the JVM, between the library and Azurite: what the data path retries, what spoils a
 * session, and that nothing half-written is ever committed.
 */
class FaultTest {
    private static final int BLOCK = 64 * 1024;

    /**
     * Answers some requests itself (an error, silence) or damages them; the rest go on to Azurite. Every request
     * given an action counts as a hit, so an action it does not know ("count") counts requests and nothing else.
     */
    static final class Injector implements HttpPipelinePolicy {
        final Function<HttpRequest, Object> rule;
        final AtomicInteger hits = new AtomicInteger();

        Injector(Function<HttpRequest, Object> rule) {
            this.rule = rule;
        }

        @Override
        public Mono<HttpResponse> process(HttpPipelineCallContext context, HttpPipelineNextPolicy next) {
            Object action = rule.apply(context.getHttpRequest());
            if (action == null) {
                return next.process();
            }
            hits.incrementAndGet();
            if (action instanceof Integer) {
                int status = (Integer) action;
                String code = status == 429 ? "ServerBusy" : status >= 500 ? "InternalError" : "AuthorizationFailure";
                return Mono.just(new PipelineUnitTest.Answer(status, "Retry-After", "0", "x-ms-error-code", code));
            }
            if ("silence".equals(action)) {
                return Mono.never();
            }
            if ("damage".equals(action)) {
                return next.process().map(FaultTest::damaged);
            }
            if ("flip".equals(action)) {
                byte[] body = context.getHttpRequest().getBodyAsBinaryData().toBytes();
                body[body.length / 2] ^= 1;
                context.getHttpRequest().setBody(BinaryData.fromBytes(body));
            }
            return next.process();
        }
    }

    /** The answer with one bit flipped in the first buffer of its body (each time the body is read). */
    static HttpResponse damaged(HttpResponse real) {
        Flux<ByteBuffer> body = Flux.defer(() -> {
            AtomicBoolean first = new AtomicBoolean(true);
            return real.getBody().map(bb -> {
                if (!bb.hasRemaining() || !first.getAndSet(false)) {
                    return bb;
                }
                ByteBuffer copy = ByteBuffer.allocate(bb.remaining()).put(bb);
                copy.put(copy.limit() / 2, (byte) (copy.get(copy.limit() / 2) ^ 0x10));
                return copy.flip();
            });
        });
        return new PipelineUnitTest.Answer(real.getRequest(), real.getStatusCode(), real.getHeaders(), body);
    }

    static boolean isBlock(HttpRequest r) {
        return r.getHttpMethod() == HttpMethod.PUT
                && r.getUrl().getQuery() != null
                && r.getUrl().getQuery().contains("comp=block")
                && !r.getUrl().getQuery().contains("blocklist");
    }

    static boolean isRangedGet(HttpRequest r) {
        return r.getHttpMethod() == HttpMethod.GET
                && r.getHeaders().getValue(HttpHeaderName.fromString("x-ms-range")) != null;
    }

    /** Does {@code action} to the n-th of the requests {@code which} picks (from 1) where {@code nth} holds. */
    static Injector onNth(Predicate<HttpRequest> which, IntPredicate nth, Object action) {
        AtomicInteger n = new AtomicInteger();
        return new Injector(r -> which.test(r) && nth.test(n.incrementAndGet()) ? action : null);
    }

    private KQAzurePlugInLibrary lib;

    /** Makes {@code lib}, its pipelines with {@code injector} in them; answers the injector. */
    private Injector withFaults(Injector injector, String items) {
        DataPath.testPolicy = injector;
        try {
            lib = library(Azurite.shared(), "faults", "BlockSize=" + BLOCK + ";" + items);
            return injector;
        } finally {
            DataPath.testPolicy = null;
        }
    }

    @AfterEach
    void tearDown() {
        DataPath.testPolicy = null; // a test that keeps its injector for the whole test leaves it here
        if (lib != null) {
            ok(lib.AzureDeInit());
        }
    }

    @ParameterizedTest(name = "HTTP {0} on a ranged read")
    @ValueSource(ints = {500, 503, 429})
    void aFailedRangedReadIsRetriedAndTheReadIsExact(int status) {
        // Every third ranged GET fails once: first tries, tries of the parallel split, the session's reads.
        Injector injector = withFaults(onNth(FaultTest::isRangedGet, n -> n % 3 == 1, status), "");
        byte[] content = data(status, 9 * 1024 * 1024 + 5); // more than two 4 MiB ranges
        ok(lib.WriteObject("read/" + status, content, content.length, null).errorValue);
        assertArrayEquals(content, readInChunks(lib, "read/" + status, 5 * 1024 * 1024));
        byte[] whole = new byte[content.length + 10];
        CReadObjectFnValue r = lib.ReadObject("read/" + status, whole, whole.length, 0);
        ok(r.errorValue);
        assertEquals(content.length, r.sizeRead);
        assertArrayEquals(content, Arrays.copyOf(whole, content.length));
        assertTrue(injector.hits.get() >= 3, "faults were injected: " + injector.hits.get());
    }

    @Test
    void aRefusedBlockSpoilsTheSessionAndNothingIsCommitted() {
        withFaults(onNth(FaultTest::isBlock, n -> n == 3, 403), "MaxInFlight=4");
        CCreateFnValue session = lib.CreateObject("spoilt");
        ok(session.errorValue);
        byte[] chunk = data(1, BLOCK);
        CErrorValue last = null;
        for (int i = 0; i < 12 && (last == null || last.getErrorID() == SUCCESS); i++) {
            last = lib.WriteObject(session.objHandle, chunk, chunk.length);
        }
        expect(ACCESS_DENIED, lib.CloseObject(session.objHandle));
        assertFalse(exists(lib, "spoilt"), "nothing of a failed session is committed");
    }

    @Test
    void aCorruptedBlockIsRefusedBySumAndSentAgain() {
        Injector injector = withFaults(onNth(FaultTest::isBlock, n -> n % 2 == 1, "flip"), "");
        roundTrip(lib, "kqh-named-like-a-handle", data(3, 5 * BLOCK + 17), 50_000, 100_000);
        assertTrue(injector.hits.get() >= 3, "bodies were damaged"); // block uploads only: the count is the write's
    }

    /**
     * The first answer to every range arrives damaged. Whole blocks staged by the library are checked by the sums in
     * their ids, with no MD5 asked of the service; another tool's blocks by the service's MD5 of each range.
     */
    @ParameterizedTest(name = "blocks staged by {0}")
    @ValueSource(strings = {"the library", "another tool"})
    void aDamagedRangeIsCaughtAndFetchedAgain(String writer) {
        Set<String> seen = ConcurrentHashMap.newKeySet();
        AtomicInteger bySums = new AtomicInteger();
        HttpHeaderName md5 = HttpHeaderName.fromString("x-ms-range-get-content-md5");
        Injector injector = new Injector(r -> {
            if (!isRangedGet(r)) {
                return null;
            }
            if (r.getHeaders().getValue(md5) == null) {
                bySums.incrementAndGet();
            }
            return seen.add(r.getHeaders().getValue(HttpHeaderName.fromString("x-ms-range"))) ? "damage" : null;
        });
        withFaults(injector, "RangeSize=262144");
        String box = lib.GetContainerName().accountName;
        byte[] content = data(9, 3 * 1024 * 1024 + 5);
        if (writer.equals("the library")) {
            ok(lib.WriteObject("damaged", content, content.length, null).errorValue);
        } else {
            BlobContainerClient other = new BlobServiceClientBuilder()
                    .connectionString(Azurite.shared().connectionString())
                    .buildClient()
                    .getBlobContainerClient(box);
            other.createIfNotExists();
            // In blocks of 1 MiB, staged under the SDK's own block ids.
            ParallelTransferOptions blocks =
                    new ParallelTransferOptions().setBlockSizeLong(1L << 20).setMaxSingleUploadSizeLong(1L << 20);
            other.getBlobClient("damaged")
                    .uploadWithResponse(
                            new BlobParallelUploadOptions(BinaryData.fromBytes(content))
                                    .setParallelTransferOptions(blocks),
                            null,
                            null);
        }
        assertArrayEquals(content, readInChunks(lib, "damaged", 256 * 1024));
        assertTrue(injector.hits.get() >= 3, "answers were damaged: " + injector.hits.get());
        if (writer.equals("the library")) {
            assertTrue(bySums.get() >= 3, "ranges checked by the blocks' sums: " + bySums.get());
        } else {
            assertEquals(0, bySums.get(), "every range asked with its MD5");
        }
    }

    @Test
    void aSilentServerIsAbandonedAfterTheTryTimeAndTheBlockSentAgain() {
        withFaults(onNth(FaultTest::isBlock, n -> n == 1, "silence"), "TryTimeout=1;MinRate=1048576");
        byte[] content = data(4, 3 * BLOCK);
        long start = System.nanoTime();
        roundTrip(lib, "silent", content, BLOCK, BLOCK);
        assertTrue(Duration.ofNanos(System.nanoTime() - start).getSeconds() < 20);
    }

    @Test
    void anUpdateInBlocksOfAMissingObjectStagesNothing() {
        Injector blocks = withFaults(onNth(FaultTest::isBlock, n -> true, "count"), "");
        byte[] content = data(7, 3 * BLOCK + 1);
        expect(OBJECT_NOT_FOUND, lib.UpdateObject("absent", "", content, content.length, null).errorValue);
        assertEquals(0, blocks.hits.get(), "found missing before any block was sent");
        assertFalse(exists(lib, "absent"));
        ok(lib.WriteObject("present", new byte[1], 1));
        assertEquals("present", lib.UpdateObject("present", "", content, content.length, null).objHandle);
        assertEquals(4, blocks.hits.get());
        assertArrayEquals(content, readInChunks(lib, "present", BLOCK));
    }

    @Test
    void triesRefusedWhileTheKeyRotatesAreSentAgainWithTheNewKey() throws IOException {
        Path keyFile = keyFile();
        AtomicInteger blocks = new AtomicInteger();
        AtomicInteger gets = new AtomicInteger();
        // One block and one ranged read are refused while the key changes under them.
        Injector injector = new Injector(r -> {
            if ((isBlock(r) && blocks.incrementAndGet() == 2) || (isRangedGet(r) && gets.incrementAndGet() == 2)) {
                ok(lib.updateStorageKey().errorValue); // set below before any block or range is sent
                return 403;
            }
            return null;
        });
        DataPath.testPolicy = injector; // kept while the test runs: the rotation builds new pipelines
        lib = init(Azurite.shared().connection(StorageConfig.DEV_ACCOUNT, "AccountKeyFile=" + keyFile) + "Container="
                + container("rotate") + ";BlockSize=" + BLOCK);
        roundTrip(lib, "rotating", data(8, 9 * 1024 * 1024), 4 * BLOCK, 5 * 1024 * 1024);
        assertEquals(2, injector.hits.get());
    }

    /**
     * The service falls silent while one host thread streams blocks into a session (waiting for a slot, or for pool
     * room when the pool is full, with the session's monitor held) and another reads: DeInit, or an AzureInit that
     * replaces the configuration, still returns at once, both calls answer CANCELLED, nothing is committed.
     */
    @ParameterizedTest(name = "{0}")
    @ValueSource(
            strings = {
                "MaxInFlight=2;AzureDeInit",
                "MaxInFlight=32;MaxBufferMemory=1048576;AzureDeInit",
                "MaxInFlight=2;AzureInit"
            })
    void unloadIsPromptWhateverTheHostsThreadsWaitFor(String setting) throws Exception {
        Set<Thread> before = Thread.getAllStackTraces().keySet(); // other tests' libraries have theirs
        long heldBefore = BufferPool.SHARED.used(); // the pool is the process's: other libraries may hold some
        AtomicBoolean silent = new AtomicBoolean();
        String items = setting.substring(0, setting.lastIndexOf(';'));
        withFaults(
                new Injector(r -> silent.get() && (isBlock(r) || isRangedGet(r)) ? "silence" : null),
                items + ";ReadAhead=2");
        byte[] stored = data(4, DataPath.MD5_RANGE_LIMIT + 8 * BLOCK); // past the open's first range
        ok(lib.WriteObject("kept", stored, stored.length, null).errorValue); // a real request: HTTP threads exist
        assertTrue(
                Thread.getAllStackTraces().keySet().stream()
                        .anyMatch(t -> !before.contains(t) && t.getName().startsWith("kq-azure-http-")),
                "HTTP threads");
        CCreateFnValue reading = lib.OpenObject("kept");
        CCreateFnValue writing = lib.CreateObject("cut");
        silent.set(true);
        byte[] stream = data(5, 40 * BLOCK);
        CompletableFuture<Object> writer =
                onItsOwnThread(() -> lib.WriteObject(writing.objHandle, stream, stream.length));
        CompletableFuture<Object> reader =
                onItsOwnThread(() -> lib.ReadObject(reading.objHandle, new byte[stored.length], stored.length, 0));
        Thread.sleep(1500); // both are stuck now: the writer on its full window, the reader on silent ranges
        assertFalse(writer.isDone() || reader.isDone(), "the service answers nothing");

        String containerName = lib.GetContainerName().accountName;
        long start = System.nanoTime();
        if (setting.endsWith("AzureInit")) {
            ok(lib.AzureInit(Azurite.shared().connectionString() + "Container=" + container("after"), "/opt/kq"));
        } else {
            ok(lib.AzureDeInit());
            lib = null;
        }
        long unload = System.nanoTime() - start;
        assertTrue(
                unload < TimeUnit.SECONDS.toNanos(DataPath.CLOSE_WAIT_SECONDS),
                "unloaded in " + unload / 1000000 + " ms");
        expect(CANCELLED, errorOf(writer.get(2, TimeUnit.SECONDS)));
        expect(CANCELLED, errorOf(reader.get(2, TimeUnit.SECONDS)));
        withLibrary(
                Azurite.shared().connectionString() + "Container=" + containerName,
                check -> assertFalse(exists(check, "cut"), "nothing of the dropped session is committed"));
        for (Thread t : Thread.getAllStackTraces().keySet()) {
            if (before.contains(t)) {
                continue;
            }
            // Workers and the HTTP dispatcher's threads end; OkHttp's shared housekeeping threads (connection
            // pool cleaner, timeout watchdog) may linger up to a minute, idle, as daemon threads.
            assertTrue(t.isDaemon() || !t.isAlive(), t.getName() + " would keep the host's VM alive");
            if (t.getName().startsWith("kq-azure-")) {
                t.join(2000); // a worker the pool has let go may take a moment more to end
                assertFalse(t.isAlive(), t.getName() + " still runs");
            }
        }
        assertTrue(
                BufferPool.SHARED.used() <= heldBefore,
                () -> "every buffer given back: " + BufferPool.SHARED.used() + " held, " + heldBefore + " before");
    }

    @Test
    void sequentialReadsAreFetchedAheadAndRandomReadsAreNot() {
        Injector gets = withFaults(onNth(FaultTest::isRangedGet, n -> true, "count"), "ReadAhead=2");
        int mib = 1024 * 1024;
        byte[] content = data(6, 12 * mib + 3);
        ok(lib.WriteObject("ahead", content, content.length, null).errorValue);

        gets.hits.set(0);
        assertArrayEquals(content, readInChunks(lib, "ahead", mib));
        assertTrue(gets.hits.get() <= 7, "13 reads of 1 MiB served by about four 4 MiB ranges: " + gets.hits.get());

        CCreateFnValue opened = lib.OpenObject("ahead");
        byte[] buf = new byte[1000];
        gets.hits.set(0);
        for (int i = 11; i >= 0; i--) { // backwards: never sequential
            CReadObjectFnValue r = lib.ReadObject(opened.objHandle, buf, buf.length, (long) i * mib);
            ok(r.errorValue);
            assertArrayEquals(Arrays.copyOfRange(content, i * mib, i * mib + 1000), buf);
        }
        assertEquals(12, gets.hits.get(), "one request per random read, nothing fetched ahead");
        ok(lib.CloseObject(opened.objHandle));
        assertEquals(0, BufferPool.SHARED.used(), "read-ahead buffers given back at the close");
    }
}
