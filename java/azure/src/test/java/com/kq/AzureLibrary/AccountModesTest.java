package com.kq.AzureLibrary;

import static com.kq.AzureLibrary.StorageConfig.DEV_ACCOUNT;
import static com.kq.AzureLibrary.StorageConfig.DEV_KEY;
import static com.kq.AzureLibrary.TestSupport.*;
import static com.kq.KQCloudPluginInterface.ERRORID.ACCESS_DENIED;
import static com.kq.KQCloudPluginInterface.ERRORID.AUTHENTICATION_FAILED;
import static com.kq.KQCloudPluginInterface.ERRORID.SUCCESS;
import static java.nio.charset.StandardCharsets.ISO_8859_1;
import static org.junit.jupiter.api.Assertions.*;

import com.azure.core.credential.AccessToken;
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
import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStream;
import java.io.InputStreamReader;
import java.lang.ProcessBuilder.Redirect;
import java.net.InetAddress;
import java.net.ServerSocket;
import java.net.Socket;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.KeyStore;
import java.security.cert.CertificateFactory;
import java.time.OffsetDateTime;
import java.util.Arrays;
import java.util.Base64;
import java.util.Collections;
import java.util.Map;
import java.util.concurrent.Callable;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.TimeUnit;
import java.util.stream.Stream;
import javax.net.ssl.TrustManagerFactory;
import javax.net.ssl.X509TrustManager;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;
import reactor.core.publisher.Mono;

/** Each way into an account that Azurite serves, key rotation, access tiers, and a proxy in the way. */
class AccountModesTest {
    private static final Azurite AZURITE = Azurite.shared();
    private static final BlobServiceClient ADMIN = new BlobServiceClientBuilder()
            .connectionString(AZURITE.connectionString())
            .buildClient();
    /** A well-formed key that is not the account's. */
    private static final String WRONG_KEY = DEV_KEY.substring(0, 20) + "AAAA" + DEV_KEY.substring(24);
    /** The Azurite of the bearer tokens, made for the first token row. */
    private static Azurite oauth;

    @AfterAll
    static void cleanUp() {
        ADMIN.listBlobContainers().stream()
                .filter(c -> c.getName().startsWith("t-modes-"))
                .forEach(c -> ADMIN.deleteBlobContainer(c.getName()));
        StorageConnection.testTrustManager = null;
        StorageConnection.testCredential = null;
        if (oauth != null) {
            oauth.close();
        }
    }

    private static String newContainer() {
        String name = container("modes");
        ADMIN.createBlobContainer(name);
        return name;
    }

    /** A shared access signature of {@code scope} with {@code permissions}, on a new container. */
    private static String sas(String scope, String permissions) {
        String container = newContainer();
        OffsetDateTime expiry = OffsetDateTime.now().plusHours(1);
        String sas = scope.equals("account")
                ? ADMIN.generateAccountSas(new AccountSasSignatureValues(
                        expiry,
                        AccountSasPermission.parse(permissions),
                        new AccountSasService().setBlobAccess(true),
                        new AccountSasResourceType().setContainer(true).setObject(true)))
                : ADMIN.getBlobContainerClient(container)
                        .generateSas(new BlobServiceSasSignatureValues(
                                expiry, BlobContainerSasPermission.parse(permissions)));
        return AZURITE.connection(DEV_ACCOUNT, "SharedAccessSignature=" + sas) + "Container=" + container;
    }

    /**
     * Microsoft Entra ID bearer tokens of {@code issuer} for {@code audience}, against Azurite's OAuth mode, which
     * wants HTTPS: a certificate for 127.0.0.1, an Azurite of its own with it, a TLS context trusting it and a
     * credential minting tokens of the shape Azurite checks (issuer, audience, lifetime; not the signature).
     */
    private static String token(String issuer, String audience) throws Exception {
        if (oauth == null) {
            Path certificates = Files.createTempDirectory("kq-oauth");
            Path cert = certificates.resolve("cert.pem");
            Path key = certificates.resolve("key.pem");
            // Removed when the test VM ends, in the reverse order: the files, then their folder.
            Stream.of(certificates, cert, key).forEach(p -> p.toFile().deleteOnExit());
            String openssl = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1"
                    + " -addext subjectAltName=IP:127.0.0.1 -keyout key.pem -out cert.pem"; // in the folder
            Process p = new ProcessBuilder(openssl.split(" "))
                    .directory(certificates.toFile())
                    .redirectErrorStream(true)
                    .redirectOutput(Redirect.DISCARD)
                    .start();
            assertTrue(p.waitFor(60, TimeUnit.SECONDS) && p.exitValue() == 0, openssl + " failed");
            oauth = Azurite.start(Map.of(), "--oauth", "basic", "--cert", cert.toString(), "--key", key.toString());
            KeyStore trust = KeyStore.getInstance(KeyStore.getDefaultType());
            trust.load(null, null);
            try (InputStream in = Files.newInputStream(cert)) {
                trust.setCertificateEntry(
                        "azurite", CertificateFactory.getInstance("X.509").generateCertificate(in));
            }
            TrustManagerFactory tmf = TrustManagerFactory.getInstance(TrustManagerFactory.getDefaultAlgorithm());
            tmf.init(trust);
            StorageConnection.testTrustManager = (X509TrustManager) tmf.getTrustManagers()[0];
        }
        StorageConnection.testCredential = request -> {
            long now = System.currentTimeMillis() / 1000;
            String header = b64("{\"alg\":\"RS256\",\"typ\":\"JWT\"}");
            String body = b64("{\"aud\":\"" + audience + "\",\"iss\":\"" + issuer + "\",\"iat\":" + (now - 60)
                    + ",\"nbf\":" + (now - 60) + ",\"exp\":" + (now + 3600) + "}");
            return Mono.just(new AccessToken(
                    header + "." + body + ".c2ln", OffsetDateTime.now().plusHours(1)));
        };
        return "BlobEndpoint=https://127.0.0.1:" + oauth.port() + "/" + DEV_ACCOUNT
                + ";Auth=ManagedIdentity;MaxTries=1;Container=" + container("oauth");
    }

    private static String b64(String json) {
        return Base64.getUrlEncoder().withoutPadding().encodeToString(json.getBytes(StandardCharsets.UTF_8));
    }

    static Stream<Arguments> waysIn() {
        String sts = "https://sts.windows.net/00000000-0000-0000-0000-000000000000/";
        String storage = "https://storage.azure.com";
        return Stream.of(
                row("account SAS, rwdlac", SUCCESS, () -> sas("account", "rwdlac")),
                row("container SAS, rwdl", SUCCESS, () -> sas("container", "rwdl")),
                row("container SAS, rdl", ACCESS_DENIED, () -> sas("container", "rdl")),
                row("account SAS, rl", ACCESS_DENIED, () -> sas("account", "rl")),
                row("accepted token", SUCCESS, () -> token(sts, storage)),
                row("token, wrong audience", AUTHENTICATION_FAILED, () -> token(sts, "https://vault.azure.net")),
                row("token, wrong issuer", AUTHENTICATION_FAILED, () -> token("https://issuer.example.com/", storage)));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("waysIn")
    void eachWayInReachesTheContainerAndARefusalStopsTheBackup(
            String what, ERRORID expected, Callable<String> configuration) throws Exception {
        withLibrary(configuration.call(), lib -> {
            expect(expected, lib.CheckConnectivity());
            expect(expected, lib.canBackup().errorValue);
            assertEquals(expected == SUCCESS ? 1 : 0, lib.canBackup().value);
            if (expected == SUCCESS) {
                roundTrip(lib, "way/obj", data(7, 5000), 1500, 4096);
            } else {
                // The service agrees: the write the check foresaw is refused.
                CWObjectHandleFnValue refused = lib.WriteObject("way/obj", new byte[4], 4, null);
                assertNotEquals(SUCCESS, refused.errorValue.getErrorID());
            }
        });
    }

    @Test
    void aKeyRotatedInTheMiddleOfAWriteSessionKeepsItsData() throws IOException {
        Path keyFile = keyFile();
        KQAzurePlugInLibrary lib = init(AZURITE.connection(DEV_ACCOUNT, "AccountKeyFile=" + keyFile) + "Container="
                + newContainer() + ";BlockSize=4096");
        // A wrong key rotated in is used at once (the service refuses it); rotating back restores access.
        Files.writeString(keyFile, WRONG_KEY);
        CString answer = lib.updateStorageKey();
        ok(answer.errorValue);
        assertEquals(DEV_ACCOUNT, answer.value);
        ERRORID refused = lib.IsObjectExist("rotated").errorValue.getErrorID();
        assertTrue(
                refused == ERRORID.AUTHENTICATION_FAILED || refused == ERRORID.ACCESS_DENIED,
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
        ok(lib.WriteObject(handle, Arrays.copyOfRange(content, 3 * 4096, content.length), content.length - 3 * 4096));
        ok(lib.CloseObject(handle));
        assertArrayEquals(content, readInChunks(lib, "rotated", 8192));
        ok(lib.AzureDeInit());
    }

    @Test
    void newObjectsTakeTheConfiguredTierAndAnArchivedOneAsksForRehydration() {
        String container = newContainer();
        withLibrary(AZURITE.connectionString() + "Container=" + container + ";AccessTier=Cool;BlockSize=1024", lib -> {
            ok(lib.WriteObject("whole", data(1, 100), 100, null).errorValue);
            writeInChunks(lib, "blocks", data(2, 3000), 1000);
            BlobContainerClient admin = ADMIN.getBlobContainerClient(container);
            for (String name : new String[] {"whole", "blocks"}) {
                assertEquals(
                        AccessTier.COOL,
                        admin.getBlobClient(name).getProperties().getAccessTier(),
                        name);
            }

            admin.getBlobClient("whole").setAccessTier(AccessTier.ARCHIVE);
            byte[] buf = new byte[100];
            expect(ERRORID.READ_FAILED, lib.ReadObjectByName("whole", buf, 0, 100, null).errorValue);
            expect(ERRORID.INVALID_ARGUMENT, lib.SetObjectMetaData("whole", Rehydration.PROPERTY, "Archive"));
            expect(ERRORID.INVALID_ARGUMENT, lib.SetObjectMetaData("whole", Rehydration.PROPERTY, "Hot,Low"));
            ok(lib.SetObjectMetaData("whole", Rehydration.PROPERTY, "Hot,High"));
            var props = admin.getBlobClient("whole").getProperties();
            assertTrue(
                    AccessTier.HOT.equals(props.getAccessTier()) || props.getArchiveStatus() != null,
                    "rehydration asked for: " + props.getAccessTier() + " " + props.getArchiveStatus());
        });
        assertEquals(ERRORID.READ_FAILED, ErrorMapper.fromService(409, BlobErrorCode.BLOB_ARCHIVED));
    }

    /**
     * The proxy answers every request itself with "no such container", naming the target it was asked for: an
     * answer that can only have come through it.
     */
    @Test
    void requestsGoThroughTheConfiguredProxy() throws Exception {
        try (ServerSocket proxy = new ServerSocket(0, 50, InetAddress.getLoopbackAddress())) {
            // One request is all it takes: "no such container" is an answer, not retried.
            CompletableFuture<String> asked = onItsOwnThread(() -> {
                try (Socket client = proxy.accept()) {
                    var in = new BufferedReader(new InputStreamReader(client.getInputStream(), ISO_8859_1));
                    String line = in.readLine();
                    client.getOutputStream()
                            .write(("HTTP/1.1 404 No\r\nx-ms-error-code: ContainerNotFound\r\n"
                                            + "Content-Length: 0\r\nConnection: close\r\n\r\n")
                                    .getBytes(ISO_8859_1));
                    return line;
                }
            });
            Map<String, String> env = Map.of("HTTP_PROXY", "http://127.0.0.1:" + proxy.getLocalPort());
            ConfigurationSource none = source -> Collections.emptyMap();
            Configuration settings = new ConfigurationBuilder(none, none, source -> env).build();
            String existing = newContainer();
            try (StorageConnection c = StorageConnection.open(
                    StorageConfig.parse(AZURITE.connectionString() + "Container=" + existing), settings)) {
                assertFalse(c.container.exists(), "the proxy's answer, not Azurite's");
            }
            String line = asked.get(10, TimeUnit.SECONDS);
            assertTrue(line.contains("127.0.0.1:" + AZURITE.port() + "/"), line);
        }
    }

    /**
     * Two instances in one VM, on two accounts with their own containers and settings: the shared pool's budget is
     * the larger setting whichever initialised last, and one instance's key rotation and DeInit leave the other's
     * open session alone.
     */
    @Test
    void twoInstancesOnTwoAccountsAreIndependent() throws IOException {
        String secondKey = Base64.getEncoder()
                .encodeToString("kq-second-account-key-for-tests!".getBytes(StandardCharsets.US_ASCII));
        Azurite two = Azurite.start(Map.of("AZURITE_ACCOUNTS", DEV_ACCOUNT + ":" + DEV_KEY + ";kqsecond:" + secondKey));
        Path keyFile = keyFile();
        KQAzurePlugInLibrary first = null;
        KQAzurePlugInLibrary second = null;
        try {
            long mib = 1024 * 1024;
            first = init(two.connection(DEV_ACCOUNT, "AccountKeyFile=" + keyFile) + "Container=" + container("first")
                    + ";BlockSize=65536;MaxInFlight=2;MaxBufferMemory=" + 24 * mib);
            String secondContainer = container("second");
            second = init(two.connection("kqsecond", "AccountKey=" + secondKey) + "Container=" + secondContainer
                    + ";BlockSize=131072;MaxInFlight=4;MaxBufferMemory=" + 2 * mib);
            // Other libraries of this VM may ask for more still: at least the larger of these two.
            assertTrue(
                    BufferPool.SHARED.capacity()
                            >= Math.min(24 * mib, Runtime.getRuntime().maxMemory() / 4),
                    "the larger budget, though the smaller initialised last");

            byte[] one = data(21, 700 * 1024 + 5);
            byte[] other = data(22, 900 * 1024 + 7);
            CCreateFnValue a = first.CreateObject("same/name");
            CCreateFnValue b = second.CreateObject("same/name");
            ok(first.WriteObject(a.objHandle, one, one.length / 2));
            ok(second.WriteObject(b.objHandle, other, other.length / 2));
            ok(first.updateStorageKey().errorValue); // the first's rotation: the second's session goes on
            ok(second.WriteObject(
                    b.objHandle,
                    Arrays.copyOfRange(other, other.length / 2, other.length),
                    other.length - other.length / 2));
            ok(second.CloseObject(b.objHandle));
            ok(second.AzureDeInit()); // the second leaves: the first's session goes on
            second = null;
            ok(first.WriteObject(
                    a.objHandle, Arrays.copyOfRange(one, one.length / 2, one.length), one.length - one.length / 2));
            ok(first.CloseObject(a.objHandle));
            assertArrayEquals(one, readInChunks(first, "same/name", 256 * 1024));

            second = init(two.connection("kqsecond", "AccountKey=" + secondKey) + "Container=" + secondContainer);
            assertArrayEquals(other, readInChunks(second, "same/name", 256 * 1024), "each account holds its own");
            assertEquals("kqsecond", second.GetOwnerName().accountName);
        } finally {
            for (KQAzurePlugInLibrary lib : new KQAzurePlugInLibrary[] {first, second}) {
                if (lib != null) {
                    ok(lib.AzureDeInit());
                }
            }
            two.close();
        }
    }
}
