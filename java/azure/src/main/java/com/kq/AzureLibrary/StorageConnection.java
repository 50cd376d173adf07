package com.kq.AzureLibrary;

import com.azure.core.credential.TokenCredential;
import com.azure.core.http.HttpClient;
import com.azure.core.http.ProxyOptions;
import com.azure.core.http.okhttp.OkHttpAsyncHttpClientBuilder;
import com.azure.core.util.Configuration;
import com.azure.core.util.ConfigurationBuilder;
import com.azure.core.util.ConfigurationSource;
import com.azure.identity.AzureCliCredentialBuilder;
import com.azure.identity.ClientCertificateCredentialBuilder;
import com.azure.identity.ClientSecretCredentialBuilder;
import com.azure.identity.ManagedIdentityCredentialBuilder;
import com.azure.identity.WorkloadIdentityCredentialBuilder;
import com.azure.storage.blob.BlobContainerClient;
import com.azure.storage.blob.BlobServiceClient;
import com.azure.storage.blob.BlobServiceClientBuilder;
import com.azure.storage.blob.models.BlobErrorCode;
import com.azure.storage.blob.models.BlobStorageException;
import com.azure.storage.blob.specialized.BlockBlobClient;
import com.azure.storage.common.policy.RequestRetryOptions;
import com.azure.storage.common.policy.RetryPolicyType;
import java.net.URI;
import java.time.Duration;
import java.util.Collections;
import java.util.HashMap;
import java.util.Locale;
import java.util.Map;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.function.Supplier;
import javax.net.ssl.SSLContext;
import javax.net.ssl.TrustManager;
import javax.net.ssl.X509TrustManager;
import okhttp3.ConnectionPool;
import okhttp3.ConnectionSpec;
import okhttp3.Dispatcher;
import okhttp3.OkHttpClient;
import okhttp3.Protocol;

/**
 * The clients of one configuration: one HTTP client (OkHttp, never netty), one service client and the
 * container client, all sharing one pipeline. Building it makes no network call. Safe for concurrent use.
 *
 * <p>The service and container clients are read afresh by every request, so {@link #rotate()} (a new credential
 * from the same configuration) is one swap: requests already sent finish with the old credential, later ones use
 * the new, and a write refused as unauthorised after a rotation is sent once more with the new clients.
 *
 * <p>Proxies: {@code HTTPS_PROXY} (else {@code HTTP_PROXY}) with {@code NO_PROXY} from the environment; without
 * them the JVM's {@code https.proxyHost}/{@code http.proxyHost}/{@code http.nonProxyHosts}.
 */
final class StorageConnection implements AutoCloseable {
    /**
     * Requests running at once, over all sessions of the process, before OkHttp queues the next. Each running
     * request holds one thread and one connection; the data path bounds its own concurrency (MaxInFlight, read
     * ahead), so this is only the ceiling of what a host with many sessions at once may run.
     */
    static final int MAX_REQUESTS = 64;
    /**
     * Idle connections kept for reuse, and for how long: enough for a write session's MaxInFlight uploads and a
     * read session's read-ahead (8 and 12 by default) to find warm connections. A TLS connection costs tens of
     * KiB of heap and one socket, so 32 of them hardly weigh on a 32-bit VM.
     */
    static final int IDLE_CONNECTIONS = 32;

    static final long IDLE_KEEP_SECONDS = 120;

    /** For tests: the token credential used instead of the one the configuration names. */
    static volatile TokenCredential testCredential;
    /** For tests: the trust (in a certificate the test made) used instead of the JVM's default. */
    static volatile X509TrustManager testTrustManager;

    /** The configuration as first given; a rotation changes only its secrets, never its other items. */
    final StorageConfig config;

    volatile BlobServiceClient service;
    volatile BlobContainerClient container;
    /**
     * Counts rotations, so that a failed request can tell whether newer clients exist than the ones it used. It
     * moves only after the new clients are in place.
     */
    private final AtomicInteger generation = new AtomicInteger();
    /** Set once the container is known to exist; cleared when it is deleted or found missing. */
    private final AtomicBoolean containerReady = new AtomicBoolean();

    private final HttpClient httpClient;
    private final ExecutorService executor;
    private final ConnectionPool connections;

    private StorageConnection(
            StorageConfig config,
            HttpClient httpClient,
            ExecutorService executor,
            ConnectionPool connections,
            BlobServiceClient service) {
        this.config = config;
        this.httpClient = httpClient;
        this.executor = executor;
        this.connections = connections;
        this.service = service;
        this.container = service.getBlobContainerClient(config.containerName);
    }

    static StorageConnection open(StorageConfig config) {
        return open(config, Configuration.getGlobalConfiguration());
    }

    /** As {@link #open(StorageConfig)}, with the proxy settings read from {@code settings}. */
    static StorageConnection open(StorageConfig config, Configuration settings) {
        // OkHttp runs each request on its dispatcher's threads: ours, daemon threads, so that a host JVM can
        // always exit and close() can end them (OkHttp's own dispatcher threads are not daemon threads).
        ExecutorService executor = Executors.newCachedThreadPool(DaemonThreads.named("http"));
        ConnectionPool connections = new ConnectionPool(IDLE_CONNECTIONS, IDLE_KEEP_SECONDS, TimeUnit.SECONDS);
        try {
            Dispatcher dispatcher = new Dispatcher(executor);
            dispatcher.setMaxRequests(MAX_REQUESTS);
            // Every request goes to one host: OkHttp's default of 5 per host would queue the data path's own
            // parallel requests while their time limits run.
            dispatcher.setMaxRequestsPerHost(MAX_REQUESTS);
            // HTTP/1.1 only: one request per connection, so a cancelled try closes its own connection and no other.
            OkHttpClient.Builder ok = new OkHttpClient.Builder()
                    .protocols(Collections.singletonList(Protocol.HTTP_1_1))
                    .retryOnConnectionFailure(false);
            X509TrustManager trust = testTrustManager;
            if (trust != null) {
                trusting(ok, trust);
            } else if (config.cleartext()) {
                // No TLS set up for an endpoint that never uses it: parsing the JDK's trusted certificates was
                // a fifth of the CPU of a VM's start.
                ok.connectionSpecs(Collections.singletonList(ConnectionSpec.CLEARTEXT));
            }
            Duration longest = config.transfer.longestTry(config.blockSize);
            HttpClient http = new OkHttpAsyncHttpClientBuilder(ok.build())
                    .dispatcher(dispatcher)
                    .connectionPool(connections)
                    .connectionTimeout(RetryPolicy.CONNECT_TIMEOUT)
                    // The SDK's synchronous calls block in the transport with no limit of their own: no request
                    // may last longer than the longest try of any request, whether its server is silent (the
                    // socket limits) or trickles a byte at a time (the call limit, OkHttp's own watchdog). The
                    // SDK's response timer is off (zero): it would need a scheduler thread, and the call limit
                    // covers what it would.
                    .readTimeout(longest)
                    .writeTimeout(longest)
                    .callTimeout(longest)
                    .responseTimeout(Duration.ZERO)
                    .proxy(proxyOf(settings))
                    .configuration(settings)
                    .build();
            BlobServiceClient service = buildService(config, http);
            return new StorageConnection(config, http, executor, connections, service);
        } catch (RuntimeException | Error e) {
            executor.shutdownNow();
            connections.evictAll();
            throw e;
        }
    }

    private static void trusting(OkHttpClient.Builder ok, X509TrustManager trust) {
        try {
            SSLContext tls = SSLContext.getInstance("TLS");
            tls.init(null, new TrustManager[] {trust}, null);
            ok.sslSocketFactory(tls.getSocketFactory(), trust);
        } catch (java.security.GeneralSecurityException e) {
            throw new IllegalStateException(e);
        }
    }

    /**
     * azure-core looks at the proxy variables only when {@code java.net.useSystemProxies} is true; a host seldom
     * sets that, and an administrator who exports HTTPS_PROXY means it, so the variables are read whatever it says.
     */
    static ProxyOptions proxyOf(Configuration settings) {
        Map<String, String> variables = new HashMap<>();
        for (String name : new String[] {"HTTPS_PROXY", "HTTP_PROXY", "NO_PROXY"}) {
            String value = settings.get(name);
            if (value == null || value.isEmpty()) {
                value = settings.get(name.toLowerCase(Locale.ROOT));
            }
            if (value != null && !value.isEmpty()) {
                variables.put(name, value);
            }
        }
        if (!variables.containsKey("HTTPS_PROXY") && !variables.containsKey("HTTP_PROXY")) {
            return ProxyOptions.fromConfiguration(settings);
        }
        variables.put("java.net.useSystemProxies", "true");
        ConfigurationSource none = path -> new HashMap<>();
        return ProxyOptions.fromConfiguration(new ConfigurationBuilder(none, none, path -> variables).build());
    }

    private static BlobServiceClient buildService(StorageConfig config, HttpClient http) {
        BlobServiceClientBuilder builder = new BlobServiceClientBuilder();
        if (config.auth.usesToken()) {
            builder.endpoint(config.tokenEndpoint).credential(credential(config, http));
        } else {
            builder.connectionString(config.serviceConnectionString);
        }
        return builder.httpClient(http)
                .retryOptions(new RequestRetryOptions(
                        RetryPolicyType.EXPONENTIAL,
                        config.maxTries,
                        config.transfer.controlTryTimeout(),
                        RetryPolicy.FIRST_DELAY,
                        RetryPolicy.MAX_DELAY,
                        null))
                .buildClient();
    }

    private static BlobServiceClient buildService(String connectionString, HttpClient http, int maxTries) {
        return new BlobServiceClientBuilder()
                .connectionString(connectionString)
                .httpClient(http)
                .retryOptions(new RequestRetryOptions(
                        RetryPolicyType.EXPONENTIAL,
                        maxTries,
                        (Duration) null,
                        RetryPolicy.FIRST_DELAY,
                        RetryPolicy.MAX_DELAY,
                        null))
                .buildClient();
    }

    /** The Microsoft Entra ID credential the configuration names; its token requests share the library's client. */
    private static TokenCredential credential(StorageConfig config, HttpClient http) {
        TokenCredential forTests = testCredential;
        if (forTests != null) {
            return forTests;
        }
        String tenant = config.has("TenantId") ? config.text("TenantId") : null;
        String client = config.has("ClientId") ? config.text("ClientId") : null;
        switch (config.auth) {
            case CLIENT_SECRET:
                return new ClientSecretCredentialBuilder()
                        .tenantId(tenant)
                        .clientId(client)
                        .clientSecret(config.clientSecret)
                        .httpClient(http)
                        .build();
            case CLIENT_CERTIFICATE:
                return new ClientCertificateCredentialBuilder()
                        .tenantId(tenant)
                        .clientId(client)
                        .pemCertificate(config.text("ClientCertificateFile"))
                        .httpClient(http)
                        .build();
            case MANAGED_IDENTITY:
                ManagedIdentityCredentialBuilder managed = new ManagedIdentityCredentialBuilder().httpClient(http);
                return client == null
                        ? managed.build()
                        : managed.clientId(client).build();
            case WORKLOAD_IDENTITY:
                // The tenant, client and token file come from AZURE_TENANT_ID, AZURE_CLIENT_ID and
                // AZURE_FEDERATED_TOKEN_FILE, which the cluster sets; the items override the first two.
                WorkloadIdentityCredentialBuilder workload = new WorkloadIdentityCredentialBuilder().httpClient(http);
                if (tenant != null) {
                    workload.tenantId(tenant);
                }
                if (client != null) {
                    workload.clientId(client);
                }
                return workload.build();
            case AZURE_CLI:
                AzureCliCredentialBuilder cli = new AzureCliCredentialBuilder();
                return tenant == null ? cli.build() : cli.tenantId(tenant).build();
            default:
                throw new IllegalArgumentException("not a token configuration");
        }
    }

    /**
     * Builds clients with the secrets read again from their file or environment variable and swaps them in. Open
     * sessions keep working: they reach the clients through this connection. Throws the configuration's failure
     * when the new secret is unreadable or malformed, leaving the current clients in place.
     */
    synchronized void rotate() {
        StorageConfig fresh = config.reload();
        BlobServiceClient next = buildService(fresh, httpClient);
        BlobContainerClient nextContainer = next.getBlobContainerClient(config.containerName);
        container = nextContainer;
        service = next;
        generation.incrementAndGet();
    }

    /** How many rotations have swapped the clients so far. */
    int generation() {
        return generation.get();
    }

    /**
     * The account URL another connection string designates, found by building (not using) a client for it on
     * this connection's HTTP client.
     */
    String accountUrlOf(StorageConfig other) {
        return other.auth.usesToken()
                ? other.tokenEndpoint
                : buildService(other.serviceConnectionString, httpClient, 1).getAccountUrl();
    }

    BlockBlobClient blob(String name) {
        return container.getBlobClient(name).getBlockBlobClient();
    }

    String accountName() {
        return service.getAccountName();
    }

    /** The account's blob endpoint without any query (a SAS never leaves the connection). */
    String accountUrl() {
        String url = service.getAccountUrl();
        int q = url.indexOf('?');
        url = q >= 0 ? url.substring(0, q) : url;
        return url.endsWith("/") ? url.substring(0, url.length() - 1) : url;
    }

    String endpointHost() {
        try {
            String host = URI.create(accountUrl()).getHost();
            return host == null ? "" : host;
        } catch (IllegalArgumentException e) {
            return "";
        }
    }

    /**
     * Runs a write; when the container is missing, creates it and runs the write once more. Reads never create
     * the container: for them a missing container is an answer.
     */
    <T> T writingToContainer(Supplier<T> write) {
        int before = generation.get();
        try {
            return creatingContainer(write);
        } catch (BlobStorageException e) {
            int status = e.getStatusCode();
            if ((status != 401 && status != 403) || generation.get() == before) {
                throw e;
            }
            return creatingContainer(write); // refused with a credential that has since been rotated
        }
    }

    /**
     * Runs a write into the container, which is created (or found) once, before the first write rather than after
     * a refused one; when it has been deleted behind the library's back since, it is made again, once.
     */
    <T> T creatingContainer(Supplier<T> write) {
        ensureContainer();
        try {
            return write.get();
        } catch (BlobStorageException e) {
            if (!BlobErrorCode.CONTAINER_NOT_FOUND.equals(e.getErrorCode())) {
                throw e;
            }
            containerGone();
            ensureContainer();
            return write.get();
        }
    }

    private void ensureContainer() {
        if (containerReady.get()) {
            return;
        }
        // One asks; the writers that arrive meanwhile wait for its answer rather than each asking too.
        synchronized (containerReady) {
            if (containerReady.get()) {
                return;
            }
            try {
                container.createIfNotExists();
            } catch (BlobStorageException e) {
                if (e.getStatusCode() != 403) {
                    throw e;
                }
                // A SAS scoped to the container may not create it: the writes will tell whether it exists.
            }
            containerReady.set(true);
        }
    }

    /** The container was deleted: the next write creates it again. */
    void containerGone() {
        containerReady.set(false);
    }

    @Override
    public void close() {
        executor.shutdownNow();
        connections.evictAll();
    }
}
