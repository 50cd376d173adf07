package com.kq.AzureLibrary;

import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.extension.ExtendWith;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.concurrent.Callable;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;

import static com.kq.AzureLibrary.TestSupport.data;
import static com.kq.AzureLibrary.TestSupport.meta;
import static com.kq.AzureLibrary.TestSupport.ok;
import static com.kq.AzureLibrary.TestSupport.readInChunks;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

/** One library object serves many threads at once: sessions never see each other's data. */
@ExtendWith(AzuriteExtension.class)
class ConcurrencyTest {
    private static final int THREADS = 8;
    private static final int BLOCK = 32 * 1024;
    private static KQAzurePlugInLibrary lib;

    @BeforeAll
    static void setUp(AzuriteProcess azurite) {
        lib = TestSupport.library(azurite, "concurrent", "BlockSize=" + BLOCK);
    }

    @AfterAll
    static void tearDown() {
        ok(lib.AzureDeInit());
    }

    /** Runs one task per thread, all released at once, and hands back their results. */
    private static <T> List<T> together(List<Callable<T>> tasks) throws Exception {
        ExecutorService pool = Executors.newFixedThreadPool(tasks.size());
        CountDownLatch start = new CountDownLatch(1);
        try {
            List<Future<T>> futures = new ArrayList<>();
            for (Callable<T> task : tasks) {
                futures.add(pool.submit(() -> {
                    start.await();
                    return task.call();
                }));
            }
            start.countDown();
            List<T> out = new ArrayList<>();
            for (Future<T> f : futures) {
                out.add(f.get(120, TimeUnit.SECONDS));
            }
            return out;
        } finally {
            pool.shutdownNow();
        }
    }

    @Test
    void eightThreadsWriteAndReadTheirOwnSessionsInterleaved() throws Exception {
        int objectsPerThread = 4;
        List<Callable<List<String>>> tasks = new ArrayList<>();
        for (int t = 0; t < THREADS; t++) {
            int thread = t;
            tasks.add(() -> {
                // Every thread keeps all its write sessions open at once and writes them round-robin.
                List<String> handles = new ArrayList<>();
                List<byte[]> contents = new ArrayList<>();
                for (int i = 0; i < objectsPerThread; i++) {
                    CCreateFnValue created = (i % 2 == 0) ? lib.CreateObject(name(thread, i))
                            : lib.CreateCachedObject(name(thread, i));
                    ok(created.errorValue);
                    handles.add(created.objHandle);
                    contents.add(data(thread * 100L + i, BLOCK * (i + 1) + thread * 7 + 1));
                }
                int chunk = 5000 + thread * 333;
                for (int off = 0; ; off += chunk) {
                    boolean any = false;
                    for (int i = 0; i < objectsPerThread; i++) {
                        byte[] c = contents.get(i);
                        if (off < c.length) {
                            int n = Math.min(chunk, c.length - off);
                            ok(lib.WriteObject(handles.get(i), Arrays.copyOfRange(c, off, off + n), n));
                            any = true;
                        }
                    }
                    if (!any) {
                        break;
                    }
                }
                for (int i = 0; i < objectsPerThread; i++) {
                    ok(lib.SetObjectMetaData(handles.get(i), "owner", "thread " + thread));
                    ok(lib.CloseObject(handles.get(i)));
                }
                for (int i = 0; i < objectsPerThread; i++) {
                    assertArrayEquals(contents.get(i), readInChunks(lib, name(thread, i), 9000 + thread));
                    assertEquals("thread " + thread, lib.GetObjectMetaData(name(thread, i), "owner").value);
                }
                return handles;
            });
        }
        List<List<String>> handles = together(tasks);
        Set<String> distinct = new HashSet<>();
        handles.forEach(distinct::addAll);
        assertEquals(THREADS * objectsPerThread, distinct.size(), "every session had its own handle");
        CRetGetSubMetaDataList all = lib.GetObjectSubList("c/");
        ok(all.errorValue);
        assertEquals(THREADS * objectsPerThread, all.metaDat.length);
        assertEquals(0, lib.openSessionCount());
    }

    @Test
    void eightThreadsReadOneSessionAtDifferentOffsets() throws Exception {
        byte[] content = data(77, 8 * BLOCK + 3);
        ok(lib.WriteObject("shared/obj", content, content.length, meta("k", "v")).errorValue);
        CCreateFnValue opened = lib.OpenObject("shared/obj");
        ok(opened.errorValue);
        List<Callable<Boolean>> tasks = new ArrayList<>();
        for (int t = 0; t < THREADS; t++) {
            int thread = t;
            tasks.add(() -> {
                byte[] buf = new byte[BLOCK + 1];
                for (int round = 0; round < 5; round++) {
                    long offset = ((long) thread * BLOCK + round * 101L) % content.length;
                    CReadObjectFnValue r = lib.ReadObject(opened.objHandle, buf, buf.length, offset);
                    ok(r.errorValue);
                    int expected = (int) Math.min(buf.length, content.length - offset);
                    assertEquals(expected, r.sizeRead);
                    assertArrayEquals(Arrays.copyOfRange(content, (int) offset, (int) offset + expected),
                            Arrays.copyOf(buf, expected));
                }
                return true;
            });
        }
        assertTrue(together(tasks).stream().allMatch(Boolean::booleanValue));
        ok(lib.CloseObject(opened.objHandle));
    }

    @Test
    void racingCreatorsOfOneNameGetOneSession() throws Exception {
        List<Callable<CCreateFnValue>> tasks = new ArrayList<>();
        for (int t = 0; t < THREADS; t++) {
            tasks.add(() -> lib.CreateObject("race/one"));
        }
        List<CCreateFnValue> results = together(tasks);
        long winners = results.stream().filter(r -> r.errorValue.isSuccess()).count();
        assertEquals(1, winners);
        results.stream().filter(r -> !r.errorValue.isSuccess())
                .forEach(r -> TestSupport.expect(com.kq.KQCloudPluginInterface.ERRORID.HANDLE_IN_USE, r.errorValue));
        String handle = results.stream().filter(r -> r.errorValue.isSuccess()).findFirst().orElseThrow().objHandle;

        List<Callable<Boolean>> closers = new ArrayList<>();
        for (int t = 0; t < THREADS; t++) {
            closers.add(() -> lib.CloseObject(handle).isSuccess());
        }
        assertEquals(1, together(closers).stream().filter(Boolean::booleanValue).count(), "one close commits");
    }

    private static String name(int thread, int index) {
        return "c/t" + thread + "/o" + index;
    }
}
