package com.kq.AzureLibrary;

import com.azure.core.util.Configuration;
import com.azure.core.util.ConfigurationBuilder;
import com.azure.core.util.ConfigurationSource;
import com.azure.storage.blob.BlobContainerClient;
import com.azure.storage.blob.BlobServiceClient;
import com.azure.storage.blob.BlobServiceClientBuilder;
import com.azure.storage.blob.models.AccessTier;
import com.azure.storage.blob.models.BlobErrorCode;
import com.azure.storage.blob.sas.BlobContainerSasPermission;
import com.azure.storage.blob.sas.BlobServiceSasSignatureValues;
import com.azure.storage.common.sas.AccountSasPermission;
import com.azure.storage.common.sas.AccountSasResourceType;
import com.azure.storage.common.sas.AccountSasService;
import com.azure.storage.common.sas.AccountSasSignatureValues;
import com.kq.KQCloudPluginInterface.ERRORID;
import com.kq.plugin.model.CString;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.net.InetAddress;
import java.net.ServerSocket;
import java.net.Socket;
import java.net.URI;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.time.OffsetDateTime;
import java.util.Arrays;
import java.util.Collections;
import java.util.Map;
import java.util.UUID;
import java.util.concurrent.atomic.AtomicInteger;

import static com.kq.AzureLibrary.StorageConfig.DEV_ACCOUNT;
import static com.kq.AzureLibrary.StorageConfig.DEV_KEY;
import static com.kq.AzureLibrary.TestSupport.*;
import static org.junit.jupiter.api.Assertions.*;

/** Each way into an account that Azurite serves, key rotation, access tiers, and a proxy in the way. */
class AccountModesTest {
    private static final Azurite AZURITE = Azurite.shared();
    private static final String ENDPOINT = "BlobEndpoint=http://127.0.0.1:" + AZURITE.port() + "/" + DEV_ACCOUNT + ";";
    private static final BlobServiceClient ADMIN =
            new BlobServiceClientBuilder().connectionString(AZURITE.connectionString()).buildClient();
    /** A well-formed key that is not the account's. */
    private static final String WRONG_KEY = DEV_KEY.substring(0, 20) + "AAAA" + DEV_KEY.substring(24);

    @AfterAll
    static void cleanUp() {
        ADMIN.listBlobContainers().forEach(c -> {
            if (c.getName().startsWith("t-modes-")) {
                ADMIN.deleteBlobContainer(c.getName());
            }
        });
    }

    private static String newContainer() {
        String name = "t-modes-" + UUID.randomUUID().toString().substring(0, 8);
        ADMIN.createBlobContainer(name);
        return name;
    }

    private static KQAzurePlugInLibrary init(String configuration) {
        KQAzurePlugInLibrary lib = new KQAzurePlugInLibrary("");
        ok(lib.AzureInit(configuration, ""));
        return lib;
    }

    @ParameterizedTest(name = "{0} SAS, permissions {1}")
    @CsvSource({"account, rwdlac, SUCCESS", "container, rwdl, SUCCESS", "container, rdl, ACCESS_DENIED",
            "account, rl, ACCESS_DENIED"})
    void sasTokensReachTheContainerAndAMissingPermissionStopsTheBackup(String scope, String permissions,
                                                                       ERRORID expected) {
        String container = newContainer();
        OffsetDateTime expiry = OffsetDateTime.now().plusHours(1);
        String sas = scope.equals("account")
                ? ADMIN.generateAccountSas(new AccountSasSignatureValues(expiry, AccountSasPermission.parse(permissions),
                        new AccountSasService().setBlobAccess(true),
                        new AccountSasResourceType().setContainer(true).setObject(true)))
                : ADMIN.getBlobContainerClient(container).generateSas(
                        new BlobServiceSasSignatureValues(expiry, BlobContainerSasPermission.parse(permissions)));
        KQAzurePlugInLibrary lib = init("AccountName=" + DEV_ACCOUNT + ";SharedAccessSignature=" + sas + ";"
                + ENDPOINT + "Container=" + container);
        try {
            expect(expected, lib.CheckConnectivity());
            expect(expected, lib.canBackup().errorValue);
            assertEquals(expected == ERRORID.SUCCESS ? 1 : 0, lib.canBackup().value);
            if (expected == ERRORID.SUCCESS) {
                byte[] content = data(7, 5000);
                writeInChunks(lib, "sas/obj", content, 1500);
                assertArrayEquals(content, readInChunks(lib, "sas/obj", 4096));
            } else {
                // The service agrees: the write the check foresaw is refused.
                assertNotEquals(ERRORID.SUCCESS, lib.WriteObject("sas/obj", new byte[4], 4, null).errorValue
                        .getErrorID());
            }
        } finally {
            ok(lib.AzureDeInit());
        }
    }

    @Test
    void aKeyRotatedInTheMiddleOfAWriteSessionKeepsItsData() throws IOException {
        Path keyFile = Files.createTempFile("kq-key", ".txt");
        try {
            Files.writeString(keyFile, DEV_KEY);
            KQAzurePlugInLibrary lib = init("AccountName=" + DEV_ACCOUNT + ";AccountKeyFile=" + keyFile + ";"
                    + ENDPOINT + "Container=" + newContainer() + ";BlockSize=4096");
            // A wrong key rotated in is used at once (the service refuses it); rotating back restores access.
            Files.writeString(keyFile, WRONG_KEY);
            CString answer = lib.updateStorageKey();
            ok(answer.errorValue);
            assertEquals(DEV_ACCOUNT, answer.value);
            ERRORID refused = lib.IsObjectExist("rotated").errorValue.getErrorID();
            assertTrue(refused == ERRORID.AUTHENTICATION_FAILED || refused == ERRORID.ACCESS_DENIED,
                    "the new key is in use: " + refused);
            Files.writeString(keyFile, DEV_KEY);
            ok(lib.updateStorageKey().errorValue);

            // Rotations in the middle of a write session, blocks still uploading: a bad secret keeps the
            // clients, a good one swaps them, and the session commits every byte.
            byte[] content = data(11, 6 * 4096 + 100);
            String handle = lib.CreateObject("rotated").objHandle;
            ok(lib.WriteObject(handle, Arrays.copyOfRange(content, 0, 3 * 4096), 3 * 4096));
            Files.writeString(keyFile, "not a key");
            expect(ERRORID.INVALID_CONNECTION_STRING, lib.updateStorageKey().errorValue);
            Files.writeString(keyFile, DEV_KEY);
            ok(lib.updateStorageKey().errorValue);
            ok(lib.WriteObject(handle, Arrays.copyOfRange(content, 3 * 4096, content.length),
                    content.length - 3 * 4096));
            ok(lib.CloseObject(handle));
            assertArrayEquals(content, readInChunks(lib, "rotated", 8192));
            ok(lib.AzureDeInit());
        } finally {
            Files.deleteIfExists(keyFile);
        }
        KQAzurePlugInLibrary inline = init(AZURITE.connectionString());
        expect(ERRORID.NOT_SUPPORTED, inline.updateStorageKey().errorValue);
        ok(inline.AzureDeInit());
    }

    @Test
    void newObjectsTakeTheConfiguredTierAndAnArchivedOneAsksForRehydration() {
        String container = newContainer();
        KQAzurePlugInLibrary lib = init(AZURITE.connectionString() + "Container=" + container
                + ";AccessTier=Cool;BlockSize=1024");
        try {
            ok(lib.WriteObject("whole", data(1, 100), 100, null).errorValue);
            writeInChunks(lib, "blocks", data(2, 3000), 1000);
            BlobContainerClient admin = ADMIN.getBlobContainerClient(container);
            for (String name : new String[] {"whole", "blocks"}) {
                assertEquals(AccessTier.COOL, admin.getBlobClient(name).getProperties().getAccessTier(), name);
            }

            admin.getBlobClient("whole").setAccessTier(AccessTier.ARCHIVE);
            byte[] buf = new byte[100];
            expect(ERRORID.READ_FAILED, lib.ReadObjectByName("whole", buf, 0, 100, null).errorValue);
            expect(ERRORID.INVALID_ARGUMENT, lib.SetObjectMetaData("whole", Rehydration.PROPERTY, "Archive"));
            expect(ERRORID.INVALID_ARGUMENT, lib.SetObjectMetaData("whole", Rehydration.PROPERTY, "Hot,Low"));
            ok(lib.SetObjectMetaData("whole", Rehydration.PROPERTY, "Hot,High"));
            var props = admin.getBlobClient("whole").getProperties();
            assertTrue(AccessTier.HOT.equals(props.getAccessTier()) || props.getArchiveStatus() != null,
                    "rehydration asked for: " + props.getAccessTier() + " " + props.getArchiveStatus());
        } finally {
            ok(lib.AzureDeInit());
        }
        assertEquals(ERRORID.READ_FAILED, ErrorMapper.fromService(409, BlobErrorCode.BLOB_ARCHIVED));
    }

    @Test
    void requestsGoThroughTheConfiguredProxy() throws IOException {
        try (CountingProxy proxy = new CountingProxy()) {
            Map<String, String> env = Map.of("HTTP_PROXY", "http://127.0.0.1:" + proxy.port());
            ConfigurationSource none = source -> Collections.emptyMap();
            Configuration settings = new ConfigurationBuilder(none, none, source -> env).build();
            try (StorageConnection c = StorageConnection.open(StorageConfig.parse(AZURITE.connectionString()),
                    settings)) {
                c.container.exists();
                assertFalse(c.service.getBlobContainerClient(newContainer()).listBlobs().iterator().hasNext());
            }
            assertTrue(proxy.requests.get() >= 2, "requests through the proxy: " + proxy.requests.get());
        }
    }

    /** A forwarding HTTP proxy for plain-HTTP targets: one request per connection, counted. */
    private static final class CountingProxy implements AutoCloseable {
        final AtomicInteger requests = new AtomicInteger();
        private final ServerSocket server = new ServerSocket(0, 50, InetAddress.getLoopbackAddress());

        CountingProxy() throws IOException {
            Thread t = new Thread(this::serve, "test-proxy");
            t.setDaemon(true);
            t.start();
        }

        int port() {
            return server.getLocalPort();
        }

        private void serve() {
            while (!server.isClosed()) {
                try {
                    Socket client = server.accept();
                    Thread t = new Thread(() -> forward(client), "test-proxy-conn");
                    t.setDaemon(true);
                    t.start();
                } catch (IOException e) {
                    return;
                }
            }
        }

        private void forward(Socket client) {
            try (client; InputStream in = client.getInputStream()) {
                StringBuilder head = new StringBuilder();
                while (!head.toString().endsWith("\r\n\r\n")) {
                    int b = in.read();
                    if (b < 0) {
                        return;
                    }
                    head.append((char) b);
                }
                String[] lines = head.toString().split("\r\n");
                String[] first = lines[0].split(" ");
                URI target = URI.create(first[1]);
                StringBuilder out = new StringBuilder(first[0] + " " + target.getRawPath()
                        + (target.getRawQuery() == null ? "" : "?" + target.getRawQuery()) + " " + first[2] + "\r\n");
                for (int i = 1; i < lines.length; i++) {
                    String lower = lines[i].toLowerCase();
                    if (!lower.startsWith("connection:") && !lower.startsWith("proxy-connection:")) {
                        out.append(lines[i]).append("\r\n");
                    }
                }
                out.append("Connection: close\r\n\r\n");
                requests.incrementAndGet();
                try (Socket upstream = new Socket(target.getHost(), target.getPort())) {
                    OutputStream up = upstream.getOutputStream();
                    up.write(out.toString().getBytes(StandardCharsets.ISO_8859_1));
                    Thread body = new Thread(() -> {
                        try {
                            in.transferTo(up);
                        } catch (IOException ignored) {
                            // the client closed first
                        }
                    }, "test-proxy-body");
                    body.setDaemon(true);
                    body.start();
                    upstream.getInputStream().transferTo(client.getOutputStream());
                }
            } catch (IOException | RuntimeException ignored) {
                // a broken connection fails the request, which the test sees
            }
        }

        @Override
        public void close() throws IOException {
            server.close();
        }
    }
}
