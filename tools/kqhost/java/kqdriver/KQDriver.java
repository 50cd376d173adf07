package kqdriver;

import com.kq.AzureLibrary.CCreateFnValue;
import com.kq.AzureLibrary.CGObjectMetaDataFnValue;
import com.kq.AzureLibrary.CPluginMetaData;
import com.kq.AzureLibrary.CReadObjectFnValue;
import com.kq.AzureLibrary.CWObjectHandleFnValue;
import com.kq.AzureLibrary.KQAzurePlugInLibrary;
import com.kq.KQCloudPluginInterface.CErrorValue;
import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.BasicFileAttributes;
import java.security.MessageDigest;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.HexFormat;
import java.util.List;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import java.util.stream.Stream;

/**
 * Drives the Java library directly, without the native plug-in: the yardstick for kqhost's backup throughput
 * (same protocol: one-shot write with metadata up to one block, otherwise a write session of block-sized chunks
 * whose last chunk carries the metadata), and a way to plant a corrupt object for the end-to-end tests.
 *
 * <pre>
 *   KQDriver backup SRC PREFIX THREADS BLOCKSIZE   prints "driver-backup: FILES BYTES SECONDS"
 *   KQDriver corrupt NAME                          flips one byte of an object, keeping its metadata
 * </pre>
 * The connection string comes from AZURE_STORAGE_CONNECTION_STRING (empty: Azurite on its default port).
 */
public final class KQDriver {
    private KQDriver() {}

    public static void main(String[] args) throws Exception {
        String connection = System.getenv().getOrDefault("AZURE_STORAGE_CONNECTION_STRING", "");
        if (args.length == 5 && args[0].equals("backup")) {
            int blockSize = Integer.parseInt(args[4]);
            String config = withItem(connection, "BlockSize=" + blockSize);
            Result r = backup(config, args[1], args[2], Integer.parseInt(args[3]), blockSize);
            System.out.printf("driver-backup: %d %d %.3f%n", r.files, r.bytes, r.seconds);
        } else if (args.length == 2 && args[0].equals("corrupt")) {
            corrupt(connection, args[1]);
            System.out.println("driver-corrupt: " + args[1]);
        } else {
            System.err.println("usage: KQDriver backup SRC PREFIX THREADS BLOCKSIZE | corrupt NAME");
            System.exit(2);
        }
    }

    /** The outcome of one backup run; seconds count the walk and the transfers, not the library's start. */
    public static final class Result {
        public final long files;
        public final long bytes;
        public final double seconds;

        Result(long files, long bytes, double seconds) {
            this.files = files;
            this.bytes = bytes;
            this.seconds = seconds;
        }
    }

    /** Backs up every regular file under {@code source} as PREFIX/relative/path; throws on the first failure. */
    public static Result backup(String config, String source, String prefix, int threads, int blockSize)
            throws Exception {
        KQAzurePlugInLibrary library = new KQAzurePlugInLibrary(System.getProperty("java.io.tmpdir"));
        check("AzureInit", library.AzureInit(config, ""));
        try {
            long start = System.nanoTime();
            Path root = Path.of(source);
            List<Path> files = new ArrayList<>();
            try (Stream<Path> walk = Files.walk(root)) {
                walk.filter(p -> Files.isRegularFile(p, java.nio.file.LinkOption.NOFOLLOW_LINKS))
                        .forEach(files::add);
            }
            files.sort(Comparator.comparingLong(KQDriver::sizeOf).reversed());
            String base = prefix.isEmpty() ? "" : prefix.replaceAll("/+$", "") + "/";
            ExecutorService pool = Executors.newFixedThreadPool(Math.max(1, threads));
            List<Future<Long>> done = new ArrayList<>();
            for (Path file : files) {
                String name = base + root.relativize(file).toString().replace('\\', '/');
                done.add(pool.submit(() -> putFile(library, file, name, blockSize)));
            }
            long bytes = 0;
            try {
                for (Future<Long> f : done) {
                    bytes += f.get();
                }
            } finally {
                pool.shutdownNow();
                pool.awaitTermination(1, TimeUnit.MINUTES);
            }
            return new Result(files.size(), bytes, (System.nanoTime() - start) / 1e9);
        } finally {
            library.AzureDeInit();
        }
    }

    private static long putFile(KQAzurePlugInLibrary library, Path file, String name, int blockSize) throws Exception {
        BasicFileAttributes attrs = Files.readAttributes(file, BasicFileAttributes.class);
        long size = attrs.size();
        long mtimeNs = attrs.lastModifiedTime().to(TimeUnit.NANOSECONDS);
        MessageDigest sha = MessageDigest.getInstance("SHA-256");
        try (InputStream in = Files.newInputStream(file)) {
            if (size <= blockSize) {
                byte[] data = in.readNBytes((int) size);
                sha.update(data);
                CWObjectHandleFnValue r = library.WriteObject(name, data, data.length, meta(size, mtimeNs, sha));
                check("WriteObject " + name, r.errorValue);
                return size;
            }
            CCreateFnValue created = library.CreateObject(name);
            check("CreateObject " + name, created.errorValue);
            String handle = created.objHandle;
            boolean committed = false;
            try {
                byte[] current = new byte[blockSize];
                byte[] next = new byte[blockSize];
                int have = in.readNBytes(current, 0, blockSize);
                while (true) {
                    int following = have == blockSize ? in.readNBytes(next, 0, blockSize) : 0;
                    sha.update(current, 0, have);
                    if (following == 0) {
                        CWObjectHandleFnValue r = library.WriteObject(handle, current, have, meta(size, mtimeNs, sha));
                        check("WriteObject " + name, r.errorValue);
                        break;
                    }
                    check("WriteObject " + name, library.WriteObject(handle, current, have));
                    byte[] t = current;
                    current = next;
                    next = t;
                    have = following;
                }
                check("CloseObject " + name, library.CloseObject(handle));
                committed = true;
            } finally {
                if (!committed) {
                    library.DeleteObjectByHandle(handle);
                }
            }
            return size;
        }
    }

    private static CPluginMetaData[] meta(long size, long mtimeNs, MessageDigest sha) {
        return new CPluginMetaData[] {
            new CPluginMetaData("kqsize", Long.toString(size)),
            new CPluginMetaData("kqmtime", Long.toString(mtimeNs)),
            new CPluginMetaData("kqsha256", HexFormat.of().formatHex(sha.digest())),
        };
    }

    /** Rewrites an object with one byte changed in its middle and its metadata as it was. */
    static void corrupt(String connection, String name) {
        KQAzurePlugInLibrary library = new KQAzurePlugInLibrary(System.getProperty("java.io.tmpdir"));
        check("AzureInit", library.AzureInit(connection, ""));
        try {
            CGObjectMetaDataFnValue meta = library.GetObjectMetaData(name);
            check("GetObjectMetaData " + name, meta.errorValue);
            CCreateFnValue opened = library.OpenObject(name);
            check("OpenObject " + name, opened.errorValue);
            java.io.ByteArrayOutputStream all = new java.io.ByteArrayOutputStream();
            byte[] buffer = new byte[1 << 20];
            for (long offset = 0; ; ) {
                CReadObjectFnValue r = library.ReadObject(opened.objHandle, buffer, buffer.length, offset);
                check("ReadObject " + name, r.errorValue);
                if (r.sizeRead == 0) {
                    break;
                }
                all.write(buffer, 0, (int) r.sizeRead);
                offset += r.sizeRead;
            }
            check("CloseObject " + name, library.CloseObject(opened.objHandle));
            byte[] data = all.toByteArray();
            if (data.length == 0) {
                throw new IllegalStateException(name + " is empty: nothing to corrupt");
            }
            data[data.length / 2] ^= 0x01;
            check("WriteObject " + name, library.WriteObject(name, data, data.length, meta.values).errorValue);
        } finally {
            library.AzureDeInit();
        }
    }

    private static long sizeOf(Path p) {
        try {
            return Files.size(p);
        } catch (IOException e) {
            return 0;
        }
    }

    private static String withItem(String connection, String item) {
        return connection.isEmpty() || connection.endsWith(";") ? connection + item : connection + ";" + item;
    }

    private static void check(String what, CErrorValue e) {
        if (e == null || e.getOrdinalValue() != 0) {
            throw new IllegalStateException(what + " failed: " + (e == null ? "no answer" : e.getErrorID()));
        }
    }
}
