package com.kq.AzureLibrary;

import static com.kq.AzureLibrary.StorageConfig.DEV_KEY;
import static org.junit.jupiter.api.Assertions.*;

import com.azure.storage.blob.BlobServiceClientBuilder;
import com.azure.storage.blob.models.AccessTier;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.Map;
import java.util.function.Predicate;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;
import reactor.core.publisher.Mono;

/** What the configuration string accepts and what it refuses; no service involved. */
class ConfigurationTest {
    private static final String ACCOUNT = "AccountName=acct;";
    private static final String KEY = "AccountKey=" + DEV_KEY + ";";
    private static final String SAS = "SharedAccessSignature=sv=2023-11-03&sp=rwdl&sr=c&sig=abc%2Bdef%3D;";
    private static final String HTTPS = "BlobEndpoint=https://acct.blob.example.net;";
    private static final String TENANT = "TenantId=72f988bf-86f1-41af-91ab-2d7cd011db47;";
    private static final String CLIENT = "ClientId=04b07795-8ddb-461a-bbee-02f9e1bf7b46;";
    private static final Map<String, String> ENV = Map.of("KQ_SECRET", "s3cret", "KQ_KEY", DEV_KEY, "KQ_EMPTY", " ");

    private static Stream<Arguments> ok(String text, Predicate<StorageConfig> check) {
        return Stream.of(Arguments.of(text, check));
    }

    /** Rows each refused: {@code prefix} followed by one of {@code items}. */
    private static Stream<Arguments> refused(String prefix, String... items) {
        return Stream.of(items).map(item -> Arguments.of(prefix + item, null));
    }

    /** Rows accepted, {@code prefix} followed by one of {@code items}, for what the SDK makes of them. */
    private static Stream<Arguments> accepted(String prefix, String... items) {
        return Stream.of(items).map(item -> Arguments.of(prefix + item, (Predicate<StorageConfig>) c -> true));
    }

    static Stream<Arguments> table() throws IOException {
        Path keyFile = Files.writeString(Files.createTempFile("kq-key", ".txt"), DEV_KEY + "\n");
        Path empty = Files.createTempFile("kq-empty", ".txt");
        String withKey = ACCOUNT + KEY;
        Stream<Stream<Arguments>> groups = Stream.of(
                // Lenient parsing used to send these to the development store.
                refused("", "", "AcountName=acct;" + KEY, ACCOUNT + "AcountKey=" + DEV_KEY, ACCOUNT),
                refused("", "Container=kq-backup"),
                refused(withKey, "foo=bar", "novalue", "Container="),
                // Names ignore case; a name may appear once, whatever its case.
                ok(
                        "accountname=acct;ACCOUNTKEY=" + DEV_KEY + ";container=abc",
                        c -> c.auth == StorageConfig.Auth.SHARED_KEY && c.containerName.equals("abc")),
                refused(withKey, "accountname=other", "BlockSize=1;blocksize=1"),
                // Values keep to their item's rule.
                refused(ACCOUNT, "AccountKey=not base64!", "AccountKey=c2hvcnQ="),
                refused("AccountName=Acct_1;", KEY),
                refused(withKey, "BlobEndpoint=notaurl", "BlobEndpoint=ftp://h/x", "BlobEndpoint=https://h/?sig=x"),
                refused(withKey, "DefaultEndpointsProtocol=HTTP", "EndpointSuffix=x y", "BlockSize=0", "BlockSize=1e3"),
                refused(withKey, "MaxTries=11", "Container=Up", "AccessTier=Frozen", "RangeSize=4096"),
                ok(
                        withKey + "rangesize=8388608;ReadAhead=0",
                        c -> c.transfer.rangeSize == 8 << 20 && c.transfer.readAhead == 0),
                ok(withKey + "AccessTier=cold", c -> AccessTier.COLD.equals(c.accessTier)),
                // The defaults, as figures: a change of the table shows here.
                ok(
                        withKey,
                        c -> c.accessTier == null
                                && c.containerName.equals("kq-backup")
                                && c.blockSize == 8 << 20
                                && c.maxTries == 4
                                && !c.listLength
                                && !c.hasSecretSource()
                                && c.transfer.maxInFlight == 8
                                && c.transfer.readAhead == 12
                                && c.transfer.rangeSize == 8 << 20
                                && c.transfer.maxBufferMemory == 72 << 20
                                && c.transfer.tryBaseSeconds == 20
                                && c.transfer.minRate == 256 << 10
                                && c.transfer.callTimeoutSeconds == 300),
                ok(
                        withKey + "MaxInFlight=64;ReadAhead=64;RangeSize=65536;MaxBufferMemory=1099511627776;"
                                + "TryTimeout=3600;MinRate=1;CallTimeout=86400;BlockSize=268435456;MaxTries=1",
                        c -> c.transfer.maxInFlight == 64
                                && c.transfer.maxBufferMemory == 1L << 40
                                && c.transfer.callTimeoutSeconds == 86_400
                                && c.blockSize == 256 << 20
                                && c.maxTries == 1),
                refused(withKey, "MaxInFlight=0", "ReadAhead=65", "RangeSize=67108865", "MaxBufferMemory=1048575"),
                refused(withKey, "TryTimeout=3601", "MinRate=0", "CallTimeout=x", "BlockSize=268435457"),
                refused(withKey, "ListLength=yes"),
                ok("UseDevelopmentStorage=true;listlength=TRUE", c -> c.listLength),
                ok(
                        withKey + "EndpointSuffix=core.chinacloudapi.cn",
                        c -> c.serviceConnectionString.contains("EndpointSuffix=core.chinacloudapi.cn")),
                // The development store only when asked for, and never mixed with an account.
                ok("UseDevelopmentStorage=TRUE;Container=abc;MaxInFlight=2", c -> c.developmentStore),
                refused("", "UseDevelopmentStorage=false"),
                refused("UseDevelopmentStorage=true;", ACCOUNT, "AccountKeyEnv=KQ_KEY", SAS),
                refused("UseDevelopmentStorage=true;", "Auth=SharedKey", TENANT),
                // One credential, from one source.
                refused(withKey, SAS, "AccountKeyEnv=KQ_KEY"),
                ok(ACCOUNT + SAS, c -> c.auth == StorageConfig.Auth.SAS && c.sasToken.startsWith("sv=")),
                ok(ACCOUNT + "SharedAccessSignature=?sp=r&sig=x", c -> c.sasToken.equals("sp=r&sig=x")),
                refused(ACCOUNT, "SharedAccessSignature=sp=r;sig=x", "Auth=Sas"),
                refused(withKey, "Auth=Sas"),
                refused("BlobEndpoint=https://h/acct;", KEY),
                ok(
                        ACCOUNT + "AccountKeyEnv=KQ_KEY",
                        c -> c.serviceConnectionString.contains(DEV_KEY) && c.hasSecretSource()),
                refused(ACCOUNT, "AccountKeyEnv=KQ_MISSING", "AccountKeyEnv=KQ_EMPTY", "AccountKeyEnv=KQ_SECRET"),
                refused(ACCOUNT, "AccountKeyEnv=1BAD"),
                ok(ACCOUNT + "AccountKeyFile=" + keyFile, c -> c.serviceConnectionString.contains(DEV_KEY)),
                refused(ACCOUNT + "AccountKeyFile=", "relative/key.txt", empty.toString(), keyFile + ".missing"),
                refused(ACCOUNT, "SasEnv=KQ_SECRET", "SasFile=" + keyFile + ";SasEnv=KQ_KEY"),
                // Microsoft Entra ID: the items each way needs, and HTTPS only.
                ok(
                        HTTPS + "Auth=ClientSecret;" + TENANT + CLIENT + "ClientSecretEnv=KQ_SECRET",
                        c -> c.clientSecret.equals("s3cret") && c.tokenEndpoint.startsWith("https://")),
                refused(HTTPS + "Auth=ClientSecret;", TENANT + CLIENT),
                refused("BlobEndpoint=http://acct.blob.example.net;", "Auth=ManagedIdentity"),
                refused(ACCOUNT, "DefaultEndpointsProtocol=http;Auth=AzureCli"),
                ok(
                        ACCOUNT + "EndpointSuffix=core.usgovcloudapi.net;Auth=ManagedIdentity;" + CLIENT,
                        c -> c.tokenEndpoint.equals("https://acct.blob.core.usgovcloudapi.net")),
                refused(HTTPS, "Auth=ManagedIdentity;ClientSecretEnv=KQ_SECRET"),
                refused(HTTPS, "Auth=ClientCertificate;" + TENANT + CLIENT),
                ok(
                        HTTPS + "Auth=ClientCertificate;" + TENANT + CLIENT + "ClientCertificateFile=" + keyFile,
                        StorageConfig::hasSecretSource),
                refused(
                        HTTPS + "Auth=ClientSecret;" + TENANT + CLIENT,
                        "ClientSecretEnv=KQ_SECRET;ClientSecretFile=" + keyFile),
                ok(HTTPS + "Auth=WorkloadIdentity", c -> c.auth == StorageConfig.Auth.WORKLOAD_IDENTITY),
                refused(HTTPS, "Auth=AzureCli;" + CLIENT, "Auth=Kerberos", KEY + TENANT),
                // Where the SDK sends: the endpoint's scheme, from the protocol item, the endpoint or its default.
                accepted(withKey, "", "DefaultEndpointsProtocol=http", "DefaultEndpointsProtocol=https"),
                accepted(withKey, "BlobEndpoint=http://127.0.0.1:10000/acct", "BlobEndpoint=HTTP://h.example/acct"),
                accepted(withKey, "DefaultEndpointsProtocol=https;BlobEndpoint=http://h.example/acct"),
                accepted(withKey, "DefaultEndpointsProtocol=http;" + HTTPS),
                accepted("", SAS + "BlobEndpoint=http://h.example/acct", "UseDevelopmentStorage=true"));
        return groups.flatMap(rows -> rows);
    }

    @ParameterizedTest(name = "[{index}] {0}")
    @MethodSource("table")
    void eachStringIsAcceptedOrRefused(String text, Predicate<StorageConfig> check) {
        if (check == null) {
            StorageFailure f = assertThrows(StorageFailure.class, () -> StorageConfig.parse(text, ENV::get));
            assertEquals("INVALID_CONNECTION_STRING", f.id.name());
            assertFalse(f.toString().contains("s3cret") || f.toString().contains(DEV_KEY), f.toString());
        } else {
            StorageConfig c = StorageConfig.parse(text, ENV::get);
            assertTrue(check.test(c), c.toString());
            assertFalse(c.toString().contains("s3cret") || c.toString().contains(DEV_KEY), c.toString());
            if (c.serviceConnectionString != null) { // the Entra ID ways give the SDK no connection string
                // The HTTP client goes without TLS exactly when the SDK's endpoint is plain HTTP: it could reach no
                // other.
                String url = new BlobServiceClientBuilder()
                        .connectionString(c.serviceConnectionString)
                        .httpClient(request -> Mono.error(new IllegalStateException("no request is sent")))
                        .buildClient()
                        .getAccountUrl();
                assertEquals(url.regionMatches(true, 0, "http://", 0, 7), c.cleartext(), url);
            }
        }
    }

    /** The README's table of items is this one's rendering: names, rules, defaults and wording. */
    @Test
    void theReadmeDocumentsEveryItemAndItsDefault() throws IOException {
        List<String> lines = Files.readAllLines(Path.of("README.md"));
        int header = lines.indexOf("| Item | Rule and meaning | Default |");
        assertTrue(header >= 0, "the README's item table");
        String table = lines.subList(header + 2, lines.size()).stream()
                .takeWhile(line -> line.startsWith("|"))
                .map(line -> line + "\n")
                .collect(Collectors.joining());
        assertEquals(StorageConfig.documentation(), table);
    }

    @Test
    void sasPermissionsNameWhatIsMissing() {
        assertEquals("", SasCheck.missing("sv=1&sp=racwdl&sr=c&sig=x"));
        assertEquals("write (w), delete (d)", SasCheck.missing("sv=1&sp=rl&sr=c&sig=x"));
        assertEquals("", SasCheck.missing("sv=1&ss=bf&srt=sco&sp=rwdlac&sig=x"));
        assertEquals(
                "the blob service (ss=b), container and object resources (srt=co)",
                SasCheck.missing("ss=q&srt=s&sp=rwdl&sig=x"));
        assertEquals("a container scope (sr=c)", SasCheck.missing("sr=b&sp=rwdl&sig=x"));
    }
}
