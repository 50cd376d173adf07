package com.kq.AzureLibrary;

import java.io.IOException;
import java.net.InetSocketAddress;
import java.net.ServerSocket;
import java.net.Socket;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.concurrent.TimeUnit;

/**
 * An Azurite blob service for the tests, started and stopped through the repository's scripts on a port of its
 * own, so that it never meets a developer's Azurite on the default port. With KQ_AZURITE_PORT set, the tests use
 * the Azurite already listening there instead and leave it running.
 */
final class AzuriteProcess implements AutoCloseable {
    final int port;
    private final boolean owned;
    private final Path stateDir;

    private AzuriteProcess(int port, boolean owned, Path stateDir) {
        this.port = port;
        this.owned = owned;
        this.stateDir = stateDir;
    }

    static AzuriteProcess startOrAttach() {
        String external = System.getenv("KQ_AZURITE_PORT");
        if (external != null && !external.isBlank()) {
            return new AzuriteProcess(Integer.parseInt(external.trim()), false, null);
        }
        return start(freePort());
    }

    static AzuriteProcess start(int port) {
        Path state = Path.of(System.getProperty("java.io.tmpdir"), "kq-azurite-tests");
        AzuriteProcess p = new AzuriteProcess(port, true, state);
        p.script("azurite-start.sh");
        return p;
    }

    /** Connection string of the development account on this instance. */
    String connectionString() {
        return "DefaultEndpointsProtocol=http;AccountName=" + StorageConfig.DEV_ACCOUNT + ";AccountKey="
                + StorageConfig.DEV_KEY + ";BlobEndpoint=http://127.0.0.1:" + port + "/" + StorageConfig.DEV_ACCOUNT
                + ";";
    }

    boolean answers() {
        try (Socket s = new Socket()) {
            s.connect(new InetSocketAddress("127.0.0.1", port), 500);
            return true;
        } catch (IOException e) {
            return false;
        }
    }

    @Override
    public void close() {
        if (owned) {
            script("azurite-stop.sh");
        }
    }

    private void script(String name) {
        Path root = Path.of(System.getProperty("kq.repoRoot", "../..")).toAbsolutePath().normalize();
        Path script = root.resolve("scripts").resolve(name);
        try {
            Path log = Files.createTempFile("kq-azurite-script", ".log");
            ProcessBuilder pb = new ProcessBuilder(List.of("bash", script.toString()))
                    .redirectErrorStream(true)
                    .redirectOutput(log.toFile());
            pb.environment().put("AZURITE_BLOB_PORT", Integer.toString(port));
            pb.environment().put("AZURITE_STATE_DIR", stateDir.toString());
            Process process = pb.start();
            if (!process.waitFor(90, TimeUnit.SECONDS)) {
                process.destroyForcibly();
                throw new IllegalStateException(name + " did not finish");
            }
            String output = Files.readString(log, StandardCharsets.UTF_8);
            Files.deleteIfExists(log);
            if (process.exitValue() != 0) {
                throw new IllegalStateException(name + " failed: " + output);
            }
        } catch (IOException e) {
            throw new IllegalStateException(name + " could not run", e);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new IllegalStateException(name + " interrupted", e);
        }
    }

    static int freePort() {
        try (ServerSocket s = new ServerSocket(0, 1, java.net.InetAddress.getLoopbackAddress())) {
            return s.getLocalPort();
        } catch (IOException e) {
            throw new IllegalStateException(e);
        }
    }
}
