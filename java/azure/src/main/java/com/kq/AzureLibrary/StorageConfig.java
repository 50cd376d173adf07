package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.ERRORID;

import java.util.ArrayList;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Locale;
import java.util.Set;
import java.util.regex.Pattern;

/**
 * The library's configuration, read from the first string of {@code AzureInit}: an Azure Storage connection string
 * that may carry the library's own items besides the service's.
 *
 * <ul>
 *   <li>{@code Container=<name>}: the container that holds the objects (default {@value #DEFAULT_CONTAINER}).</li>
 *   <li>{@code BlockSize=<bytes>}: size of the blocks a write session stages (default 8 MiB).</li>
 *   <li>{@code MaxTries=<n>}: attempts per storage request, the first included (default 4).</li>
 * </ul>
 * An empty string, {@code UseDevelopmentStorage=true}, or a string holding only the library's own items means the
 * local development store (Azurite on 127.0.0.1:10000 with its published development account).
 *
 * <p>The connection string holds the account key or SAS token; it is kept only to build the clients and never
 * appears in {@link #toString()} or in any log line ({@link #redact(String)} guards the rest).
 */
final class StorageConfig {
    static final String DEFAULT_CONTAINER = "kq-backup";
    static final int DEFAULT_BLOCK_SIZE = 8 * 1024 * 1024;
    /** Larger blocks would not fit the session's buffer and gain nothing in throughput. */
    static final int MAX_BLOCK_SIZE = 256 * 1024 * 1024;
    static final int DEFAULT_MAX_TRIES = 4;
    static final int MAX_MAX_TRIES = 10;

    /** The development store's published account and key (the same on every machine; not a secret). */
    static final String DEV_ACCOUNT = "devstoreaccount1";
    static final String DEV_KEY =
            "Eby8vdM02xNOcqFlqUwJPLlmEtlCDXJ1OUzFT50uSRZ6IFsuFq2UVErCz4I6tq/K1SZFPTOtr/KBHBeksoGMGw==";
    static final String DEV_BLOB_ENDPOINT = "http://127.0.0.1:10000/" + DEV_ACCOUNT;

    private static final Pattern CONTAINER_NAME = Pattern.compile("^(?=.{3,63}$)[a-z0-9](?:[a-z0-9]|-(?!-))*[a-z0-9]$");
    private static final Pattern SECRET_ITEMS = Pattern.compile(
            "(?i)(AccountKey|SharedAccessSignature|sig)=[^;&\\s\"]*");

    /** What the SDK is given; holds the secret. */
    final String serviceConnectionString;
    final String containerName;
    final int blockSize;
    final int maxTries;
    final boolean developmentStore;
    /** The data path's items (parallelism, buffer memory, time limits). */
    TransferSettings transfer = new TransferSettings();
    private final Set<String> secrets;

    private StorageConfig(String serviceConnectionString, String containerName, int blockSize, int maxTries,
                          boolean developmentStore, Set<String> secrets) {
        this.serviceConnectionString = serviceConnectionString;
        this.containerName = containerName;
        this.blockSize = blockSize;
        this.maxTries = maxTries;
        this.developmentStore = developmentStore;
        this.secrets = secrets;
    }

    static String developmentConnectionString() {
        return "DefaultEndpointsProtocol=http;AccountName=" + DEV_ACCOUNT + ";AccountKey=" + DEV_KEY
                + ";BlobEndpoint=" + DEV_BLOB_ENDPOINT + ";";
    }

    static StorageConfig parse(String text) {
        if (text == null) {
            throw StorageFailure.of(ERRORID.INVALID_ARGUMENT);
        }
        String container = DEFAULT_CONTAINER;
        int blockSize = DEFAULT_BLOCK_SIZE;
        int maxTries = DEFAULT_MAX_TRIES;
        boolean useDevelopment = false;
        boolean namesAccount = false;
        List<String> serviceItems = new ArrayList<>();
        Set<String> secrets = new LinkedHashSet<>();
        TransferSettings transfer = new TransferSettings();

        for (String raw : text.split(";")) {
            String item = raw.trim();
            if (item.isEmpty()) {
                continue;
            }
            int eq = item.indexOf('=');
            if (eq <= 0) {
                throw StorageFailure.of(ERRORID.INVALID_CONNECTION_STRING);
            }
            String key = item.substring(0, eq).trim();
            String value = item.substring(eq + 1).trim();
            if (transfer.accept(key, value)) {
                continue;
            }
            switch (key.toLowerCase(Locale.ROOT)) {
                case "container" -> {
                    if (!CONTAINER_NAME.matcher(value).matches()) {
                        throw StorageFailure.of(ERRORID.INVALID_CONNECTION_STRING);
                    }
                    container = value;
                }
                case "blocksize" -> blockSize = parseBounded(value, 1, MAX_BLOCK_SIZE);
                case "maxtries" -> maxTries = parseBounded(value, 1, MAX_MAX_TRIES);
                case "usedevelopmentstorage" -> {
                    if (!value.equalsIgnoreCase("true")) {
                        throw StorageFailure.of(ERRORID.INVALID_CONNECTION_STRING);
                    }
                    useDevelopment = true;
                }
                default -> {
                    String lower = key.toLowerCase(Locale.ROOT);
                    if (lower.equals("accountkey") || lower.equals("sharedaccesssignature")) {
                        secrets.add(value);
                    }
                    if (lower.equals("blobendpoint") && value.indexOf('?') >= 0) {
                        secrets.add(value.substring(value.indexOf('?') + 1));
                    }
                    if (lower.equals("accountname") || lower.equals("blobendpoint")
                            || lower.equals("sharedaccesssignature") || lower.equals("accountkey")) {
                        namesAccount = true;
                    }
                    serviceItems.add(key + "=" + value);
                }
            }
        }
        secrets.removeIf(String::isEmpty);
        StorageConfig config = useDevelopment || !namesAccount
                ? new StorageConfig(developmentConnectionString(), container, blockSize, maxTries, true, Set.of())
                : new StorageConfig(String.join(";", serviceItems) + ";", container, blockSize, maxTries, false,
                        Set.copyOf(secrets));
        config.transfer = transfer;
        return config;
    }

    private static int parseBounded(String value, int min, int max) {
        try {
            long v = Long.parseLong(value);
            if (v < min || v > max) {
                throw StorageFailure.of(ERRORID.INVALID_CONNECTION_STRING);
            }
            return (int) v;
        } catch (NumberFormatException e) {
            throw StorageFailure.of(ERRORID.INVALID_CONNECTION_STRING);
        }
    }

    /** Removes every secret this configuration knows of, and anything shaped like one, from a text. */
    String redact(String text) {
        if (text == null) {
            return null;
        }
        String out = text;
        for (String secret : secrets) {
            out = out.replace(secret, "***");
        }
        return SECRET_ITEMS.matcher(out).replaceAll("$1=***");
    }

    static boolean isValidContainerName(String name) {
        return name != null && CONTAINER_NAME.matcher(name).matches();
    }

    @Override
    public String toString() {
        return "StorageConfig[container=" + containerName + ", blockSize=" + blockSize + ", maxTries=" + maxTries
                + (developmentStore ? ", development store" : "") + "]";
    }
}
