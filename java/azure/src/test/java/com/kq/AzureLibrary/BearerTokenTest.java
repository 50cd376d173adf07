package com.kq.AzureLibrary;

import static com.kq.AzureLibrary.StorageConfig.DEV_ACCOUNT;
import static com.kq.AzureLibrary.TestSupport.*;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.azure.core.credential.AccessToken;
import com.azure.core.credential.TokenCredential;
import com.kq.KQCloudPluginInterface.ERRORID;
import java.io.InputStream;
import java.lang.ProcessBuilder.Redirect;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.KeyStore;
import java.security.cert.CertificateFactory;
import java.time.OffsetDateTime;
import java.util.ArrayList;
import java.util.Base64;
import java.util.Comparator;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;
import javax.net.ssl.TrustManagerFactory;
import javax.net.ssl.X509TrustManager;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;
import reactor.core.publisher.Mono;

/**
 * Microsoft Entra ID bearer tokens against Azurite's OAuth mode, which wants HTTPS: the test makes a certificate
 * for 127.0.0.1, runs an Azurite of its own with it, and hands the library a TLS context trusting it and a
 * credential minting tokens of the shape Azurite checks (issuer, audience, lifetime; the signature is not checked).
 */
class BearerTokenTest {
    private static Path dir;
    private static Azurite azurite;

    @BeforeAll
    static void start() throws Exception {
        dir = Files.createTempDirectory("kq-oauth");
        Path cert = dir.resolve("cert.pem");
        Path key = dir.resolve("key.pem");
        String words = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1";
        List<String> openssl = new ArrayList<>(List.of((words + " -addext subjectAltName=IP:127.0.0.1").split(" ")));
        openssl.addAll(List.of("-keyout", key.toString(), "-out", cert.toString())); // a path may hold a space
        Process p = new ProcessBuilder(openssl)
                .redirectErrorStream(true)
                .redirectOutput(Redirect.DISCARD)
                .start();
        assertTrue(p.waitFor(60, TimeUnit.SECONDS) && p.exitValue() == 0, String.join(" ", openssl) + " failed");
        azurite = Azurite.start(Map.of(), "--oauth", "basic", "--cert", cert.toString(), "--key", key.toString());
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

    @AfterAll
    static void stop() throws Exception {
        StorageConnection.testTrustManager = null;
        StorageConnection.testCredential = null;
        if (azurite != null) {
            azurite.close();
        }
        try (var files = Files.walk(dir)) {
            files.sorted(Comparator.reverseOrder()).forEach(p -> p.toFile().delete());
        }
    }

    private static TokenCredential minting(String issuer, String audience) {
        return request -> {
            long now = System.currentTimeMillis() / 1000;
            String header = b64("{\"alg\":\"RS256\",\"typ\":\"JWT\"}");
            String body = b64("{\"aud\":\"" + audience + "\",\"iss\":\"" + issuer + "\",\"iat\":" + (now - 60)
                    + ",\"nbf\":" + (now - 60) + ",\"exp\":" + (now + 3600) + "}");
            return Mono.just(new AccessToken(
                    header + "." + body + ".c2ln", OffsetDateTime.now().plusHours(1)));
        };
    }

    private static String b64(String json) {
        return Base64.getUrlEncoder().withoutPadding().encodeToString(json.getBytes(StandardCharsets.UTF_8));
    }

    @ParameterizedTest(name = "{0}")
    @CsvSource({
        "accepted token, https://sts.windows.net/00000000-0000-0000-0000-000000000000/, "
                + "https://storage.azure.com, SUCCESS",
        "wrong audience, https://sts.windows.net/00000000-0000-0000-0000-000000000000/, "
                + "https://vault.azure.net, AUTHENTICATION_FAILED",
        "wrong issuer, https://issuer.example.com/, https://storage.azure.com, AUTHENTICATION_FAILED"
    })
    void aBearerTokenReachesTheAccountOverHttps(String what, String issuer, String audience, ERRORID expected) {
        StorageConnection.testCredential = minting(issuer, audience);
        String endpoint = "BlobEndpoint=https://127.0.0.1:" + azurite.port() + "/" + DEV_ACCOUNT;
        withLibrary(endpoint + ";Auth=ManagedIdentity;MaxTries=1;Container=" + container("oauth"), lib -> {
            expect(expected, lib.canBackup().errorValue);
            if (expected == ERRORID.SUCCESS) {
                roundTrip(lib, "token/obj", data(3, 3000), 1000, 1024);
            }
        });
    }
}
