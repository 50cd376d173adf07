package com.kq.AzureLibrary;

import com.azure.core.http.HttpClient;
import com.azure.core.http.jdk.httpclient.JdkHttpClientBuilder;
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
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.ThreadFactory;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.function.Supplier;

/**
 * The clients of one configuration: one HTTP client (the JDK's, never netty), one service client and the
 * container client, all sharing one pipeline. Building it makes no network call. Safe for concurrent use.
 */
final class StorageConnection implements AutoCloseable {
    private static final Duration CONNECT_TIMEOUT = Duration.ofSeconds(10);
    private static final Duration FIRST_RETRY_DELAY = Duration.ofMillis(500);
    private static final Duration MAX_RETRY_DELAY = Duration.ofSeconds(8);
    private static final AtomicInteger THREAD_COUNTER = new AtomicInteger();

    final StorageConfig config;
    final BlobServiceClient service;
    final BlobContainerClient container;
    private final HttpClient httpClient;
    private final ExecutorService executor;

    private StorageConnection(StorageConfig config, HttpClient httpClient, ExecutorService executor,
                              BlobServiceClient service) {
        this.config = config;
        this.httpClient = httpClient;
        this.executor = executor;
        this.service = service;
        this.container = service.getBlobContainerClient(config.containerName);
    }

    static StorageConnection open(StorageConfig config) {
        // The JDK client's helper threads are ours, daemon threads, so that a host JVM can always exit and
        // close() can end them.
        ThreadFactory threads = r -> {
            Thread t = new Thread(r, "kq-azure-http-" + THREAD_COUNTER.incrementAndGet());
            t.setDaemon(true);
            return t;
        };
        ExecutorService executor = Executors.newCachedThreadPool(threads);
        try {
            HttpClient http = new JdkHttpClientBuilder(
                    java.net.http.HttpClient.newBuilder().version(java.net.http.HttpClient.Version.HTTP_1_1))
                    .executor(executor)
                    .connectionTimeout(CONNECT_TIMEOUT)
                    .build();
            BlobServiceClient service = buildService(config.serviceConnectionString, http, config.maxTries);
            return new StorageConnection(config, http, executor, service);
        } catch (RuntimeException | Error e) {
            executor.shutdownNow();
            throw e;
        }
    }

    private static BlobServiceClient buildService(String connectionString, HttpClient http, int maxTries) {
        return new BlobServiceClientBuilder()
                .connectionString(connectionString)
                .httpClient(http)
                .retryOptions(new RequestRetryOptions(RetryPolicyType.EXPONENTIAL, maxTries, (Duration) null,
                        FIRST_RETRY_DELAY, MAX_RETRY_DELAY, null))
                .buildClient();
    }

    /**
     * The account URL another connection string designates, found by building (not using) a client for it on
     * this connection's HTTP client.
     */
    String accountUrlOf(String connectionString) {
        return buildService(connectionString, httpClient, 1).getAccountUrl();
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
        try {
            return write.get();
        } catch (BlobStorageException e) {
            if (!BlobErrorCode.CONTAINER_NOT_FOUND.equals(e.getErrorCode())) {
                throw e;
            }
            container.createIfNotExists();
            return write.get();
        }
    }

    @Override
    public void close() {
        executor.shutdownNow();
    }
}
