package com.kq.AzureLibrary;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;

import com.kq.KQCloudPluginInterface.CErrorValue;
import com.kq.KQCloudPluginInterface.ERRORID;
import java.io.*;
import java.net.InetAddress;
import java.net.ServerSocket;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.*;
import java.util.concurrent.*;
import java.util.function.Consumer;
import java.util.function.IntFunction;
import java.util.function.Supplier;
import java.util.stream.Collectors;
import java.util.stream.IntStream;
import org.junit.jupiter.params.provider.Arguments;

/** Shared helpers of the library tests, and the Azurite they run against. */
final class TestSupport {
    /**
     * Runs a host call on a daemon thread of its own, as a host thread would make it. The common pool is no place
     * for calls that block: on two cores it may run one task at a time (Java 25), so a second call would wait
     * behind the first. What the call throws, checked or not, fails the future.
     */
    static <T> CompletableFuture<T> onItsOwnThread(Callable<T> call) {
        Supplier<T> unchecked = () -> {
            try {
                return call.call();
            } catch (Exception e) {
                throw new CompletionException(e);
            }
        };
        return CompletableFuture.supplyAsync(unchecked, task -> {
            Thread t = new Thread(task, "host-call");
            t.setDaemon(true);
            t.start();
        });
    }

    /** Azurite on a free port of its own (never a developer's on 10000), run through the repository's scripts. */
    static final class Azurite {
        private static Azurite shared;
        private final int port;
        private final boolean owned;

        Azurite(int port, boolean owned) {
            this.port = port;
            this.owned = owned;
        }

        int port() {
            return port;
        }

        /** The run's Azurite, stopped when the run ends; KQ_AZURITE_PORT names a running one, which is left alone. */
        static synchronized Azurite shared() {
            if (shared == null) {
                String external = System.getenv("KQ_AZURITE_PORT");
                shared = external == null ? start(Map.of()) : new Azurite(Integer.parseInt(external), false);
                Runtime.getRuntime().addShutdownHook(new Thread(shared::close));
            }
            return shared;
        }

        /**
         * A new Azurite on a free port, with {@code env} in its environment (AZURITE_ACCOUNTS, for one) and
         * {@code options} passed on to it.
         */
        static Azurite start(Map<String, String> env, String... options) {
            int port;
            try (ServerSocket s = new ServerSocket(0, 1, InetAddress.getLoopbackAddress())) {
                port = s.getLocalPort();
            } catch (IOException e) {
                throw new UncheckedIOException(e);
            }
            return new Azurite(port, true).script("azurite-start.sh", env, options);
        }

        String connectionString() {
            return connection(StorageConfig.DEV_ACCOUNT, "AccountKey=" + StorageConfig.DEV_KEY);
        }

        /** {@code account} on this Azurite, with one credential item ("AccountKeyFile=...", say). */
        String connection(String account, String credential) {
            return "AccountName=" + account + ";" + credential + ";BlobEndpoint=http://127.0.0.1:" + port + "/"
                    + account + ";";
        }

        void close() {
            if (owned) {
                script("azurite-stop.sh", Map.of());
            }
        }

        private Azurite script(String name, Map<String, String> env, String... options) {
            Path state = Path.of(System.getProperty("java.io.tmpdir"), "kq-azurite-tests");
            Path script = Path.of(System.getProperty("kq.repoRoot", "../.."), "scripts", name)
                    .toAbsolutePath();
            try {
                Path log = Files.createDirectories(state).resolve("script-" + port + ".log");
                List<String> command = new ArrayList<>(List.of("bash", script.toString()));
                command.addAll(List.of(options));
                ProcessBuilder pb =
                        new ProcessBuilder(command).redirectErrorStream(true).redirectOutput(log.toFile());
                pb.environment().putAll(Map.of("AZURITE_BLOB_PORT", "" + port, "AZURITE_STATE_DIR", state.toString()));
                pb.environment().putAll(env);
                Process process = pb.start();
                if (!process.waitFor(90, TimeUnit.SECONDS) || process.exitValue() != 0) {
                    throw new IllegalStateException(name + " failed: " + Files.readString(log));
                }
                Files.delete(log);
                return this;
            } catch (IOException | InterruptedException e) {
                throw new IllegalStateException(name + " could not run", e);
            }
        }
    }

    /** A new temporary file holding the development account's key, removed when the test VM ends. */
    static Path keyFile() throws IOException {
        Path file = Files.writeString(Files.createTempFile("kq-key", ".txt"), StorageConfig.DEV_KEY);
        file.toFile().deleteOnExit();
        return file;
    }

    /** A library on a container of its own, named after {@code purpose}. */
    static KQAzurePlugInLibrary library(Azurite azurite, String purpose, String extraItems) {
        return init(azurite.connectionString() + "Container=" + container(purpose) + ";" + extraItems);
    }

    static KQAzurePlugInLibrary init(String configuration) {
        KQAzurePlugInLibrary lib = new KQAzurePlugInLibrary("/opt/kq");
        ok(lib.AzureInit(configuration, "/opt/kq"));
        return lib;
    }

    /** Runs {@code body} on a library of {@code configuration}, which is de-initialised after it whatever happens. */
    static void withLibrary(String configuration, Consumer<KQAzurePlugInLibrary> body) {
        KQAzurePlugInLibrary lib = init(configuration);
        try {
            body.accept(lib);
        } finally {
            ok(lib.AzureDeInit());
        }
    }

    /** A table row of {@code what}, the answer {@code expected} and the {@code call} to make. */
    static Arguments row(String what, ERRORID expected, Callable<?> call) {
        return Arguments.of(what, expected, call);
    }

    static String container(String purpose) {
        return "t-" + purpose + "-" + UUID.randomUUID().toString().substring(0, 8);
    }

    /** The error of any answer: a CErrorValue itself or the errorValue field of a result. */
    static CErrorValue errorOf(Object result) {
        try {
            return result instanceof CErrorValue
                    ? (CErrorValue) result
                    : (CErrorValue) result.getClass().getField("errorValue").get(result);
        } catch (ReflectiveOperationException e) {
            throw new AssertionError(result + " carries no error", e);
        }
    }

    static boolean exists(KQAzurePlugInLibrary lib, String name) {
        CIsObjectExistFnValue r = lib.IsObjectExist(name);
        ok(r.errorValue);
        return r.isExist;
    }

    /**
     * Runs task(0) .. task(7) on threads of their own, released together; answers their results, a StorageFailure
     * thrown as its identifier. Anything else thrown fails the caller.
     */
    static List<Object> eightAtOnce(IntFunction<Object> task) throws Exception {
        Phaser start = new Phaser(8);
        List<CompletableFuture<Object>> calls = IntStream.range(0, 8)
                .mapToObj(t -> onItsOwnThread(() -> {
                    start.arriveAndAwaitAdvance();
                    return answer(() -> task.apply(t));
                }))
                .collect(Collectors.toList());
        List<Object> out = new ArrayList<>();
        for (CompletableFuture<Object> call : calls) {
            out.add(call.get(120, TimeUnit.SECONDS));
        }
        return out;
    }

    /** What a call answered: its value, or the identifier of the StorageFailure it threw. */
    static Object answer(Supplier<Object> call) {
        try {
            return call.get();
        } catch (StorageFailure f) {
            return f.id;
        }
    }

    static Object answer(Runnable call) {
        return answer((Supplier<Object>) () -> {
            call.run();
            return null;
        });
    }

    static void expect(ERRORID expected, CErrorValue actual) {
        assertEquals(expected, actual.getErrorID());
        assertEquals(expected.ordinal(), actual.getOrdinalValue());
    }

    static void ok(CErrorValue actual) {
        expect(ERRORID.SUCCESS, actual);
    }

    static byte[] data(long seed, int size) {
        byte[] out = new byte[size];
        new Random(seed).nextBytes(out);
        return out;
    }

    static CPluginMetaData[] meta(String... namesAndValues) {
        CPluginMetaData[] out = new CPluginMetaData[namesAndValues.length / 2];
        Arrays.setAll(out, i -> new CPluginMetaData(namesAndValues[2 * i], namesAndValues[2 * i + 1]));
        return out;
    }

    static Map<String, String> asMap(CPluginMetaData[] entries) {
        Map<String, String> out = new TreeMap<>();
        Arrays.stream(entries).forEach(e -> out.put(e.szPropertyName, e.val.szProperty));
        return out;
    }

    /** The committed objects under a prefix, each with its metadata. */
    static Map<String, Map<String, String>> listed(KQAzurePlugInLibrary lib, String prefix) {
        CRetGetSubMetaDataList r = lib.GetObjectSubList(prefix);
        ok(r.errorValue);
        Map<String, Map<String, String>> out = new TreeMap<>();
        Arrays.stream(r.metaDat).forEach(e -> out.put(e.szFileName, asMap(e.metaDat)));
        return out;
    }

    static void writeInChunks(KQAzurePlugInLibrary lib, String name, byte[] content, int chunk) {
        CCreateFnValue created = lib.CreateObject(name);
        ok(created.errorValue);
        for (int off = 0; off < content.length; off += chunk) {
            int n = Math.min(chunk, content.length - off);
            ok(lib.WriteObject(created.objHandle, Arrays.copyOfRange(content, off, off + n), n));
        }
        ok(lib.CloseObject(created.objHandle));
    }

    /** Writes {@code content} through a write session in chunks of {@code chunk} bytes; it reads back exact. */
    static void roundTrip(KQAzurePlugInLibrary lib, String name, byte[] content, int chunk, int readChunk) {
        writeInChunks(lib, name, content, chunk);
        assertArrayEquals(content, readInChunks(lib, name, readChunk));
    }

    /** Reads a whole object through a read session in chunks of {@code chunk} bytes, up to the 0-byte read. */
    static byte[] readInChunks(KQAzurePlugInLibrary lib, String name, int chunk) {
        CCreateFnValue opened = lib.OpenObject(name);
        ok(opened.errorValue);
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        byte[] buf = new byte[chunk];
        for (long n = -1; n != 0; out.write(buf, 0, (int) n)) {
            CReadObjectFnValue r = lib.ReadObject(opened.objHandle, buf, chunk, out.size());
            ok(r.errorValue);
            n = r.sizeRead;
        }
        ok(lib.CloseObject(opened.objHandle));
        return out.toByteArray();
    }
}
