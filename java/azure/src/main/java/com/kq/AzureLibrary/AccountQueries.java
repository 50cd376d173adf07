package com.kq.AzureLibrary;

import com.azure.storage.blob.BlobContainerClient;
import com.azure.storage.blob.models.BlobContainerItem;
import com.azure.storage.blob.models.BlobErrorCode;
import com.azure.storage.blob.models.BlobItem;
import com.azure.storage.blob.models.BlobStorageException;
import com.azure.storage.blob.models.ListBlobsOptions;
import com.azure.storage.blob.models.StorageAccountInfo;
import com.kq.KQCloudPluginInterface.CErrorValue;
import com.kq.KQCloudPluginInterface.ERRORID;
import java.net.URI;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;

/** Questions about the account and its containers: identity, size, locations, listings. Nothing here writes. */
final class AccountQueries {
    /** What a general-purpose storage account holds at most by default; the base of the "remaining" figure. */
    static final long ACCOUNT_CAPACITY_BYTES = 5L << 50;

    private AccountQueries() {}

    /**
     * The account: identity = account name; type = replication and kind; display name = "account/container";
     * no e-mail; used = bytes in the container; remaining = the default capacity less that.
     */
    static CGetAccountInfoFnValue accountInfo(StorageConnection c) {
        StorageAccountInfo info = c.service.getAccountInfo();
        String type = info.getSkuName() + "/" + info.getAccountKind();
        long used = containerBytes(c);
        return new CGetAccountInfoFnValue(
                new CErrorValue(ERRORID.SUCCESS),
                c.accountName(),
                type,
                c.accountName() + "/" + c.config.containerName,
                "",
                used,
                Math.max(0L, ACCOUNT_CAPACITY_BYTES - used));
    }

    /** Bytes held by the committed objects of the container; 0 while it does not exist. */
    static long containerBytes(StorageConnection c) {
        long total = 0;
        try {
            for (BlobItem item : c.container.listBlobs()) {
                if (item.getProperties() != null && item.getProperties().getContentLength() != null) {
                    total += item.getProperties().getContentLength();
                }
            }
        } catch (BlobStorageException e) {
            if (!BlobErrorCode.CONTAINER_NOT_FOUND.equals(e.getErrorCode())) {
                throw e;
            }
            return 0; // nothing stored yet
        }
        return total;
    }

    /** "primary" for an existing container (writes always land there); empty names the configured one. */
    static String bucketRegion(StorageConnection c, String containerName) {
        if (!containerClient(c, containerName).exists()) {
            throw StorageFailure.of(ERRORID.CONTAINER_NOT_FOUND);
        }
        return "primary";
    }

    private static BlobContainerClient containerClient(StorageConnection c, String name) {
        if (name.isEmpty()) {
            return c.container;
        }
        if (!StorageConfig.isValidContainerName(name)) {
            throw StorageFailure.of(ERRORID.INVALID_NAME);
        }
        return c.service.getBlobContainerClient(name);
    }

    /** A name Azure would refuse is simply not a valid container; no request is sent for it. */
    static boolean isValidContainer(StorageConnection c, String name) {
        return StorageConfig.isValidContainerName(name)
                && c.service.getBlobContainerClient(name).exists();
    }

    static KQAzureContainer[] containers(StorageConnection c) {
        List<KQAzureContainer> out = new ArrayList<>();
        for (BlobContainerItem item : c.service.listBlobContainers()) {
            out.add(new KQAzureContainer(item.getName()));
        }
        return out.toArray(new KQAzureContainer[0]);
    }

    /** The top-level folders of the configured container, without their trailing slash. */
    static KQAzureContainer[] archiveSets(StorageConnection c) {
        List<KQAzureContainer> out = new ArrayList<>();
        for (BlobItem item : c.container.listBlobsByHierarchy("/", new ListBlobsOptions(), null)) {
            if (Boolean.TRUE.equals(item.isPrefix())) {
                String name = item.getName();
                out.add(new KQAzureContainer(name.endsWith("/") ? name.substring(0, name.length() - 1) : name));
            }
        }
        return out.toArray(new KQAzureContainer[0]);
    }

    /** "primary", and "secondary" when the replication keeps a copy in a second region. */
    static String[] regions(StorageConnection c) {
        StorageAccountInfo info = c.service.getAccountInfo();
        String sku =
                info.getSkuName() == null ? "" : info.getSkuName().toString().toUpperCase(Locale.ROOT);
        boolean geo = sku.contains("GRS") || sku.contains("GZRS");
        return geo ? new String[] {"primary", "secondary"} : new String[] {"primary"};
    }

    /** Two endpoints are compared whole; otherwise the account names, without regard to case. */
    static boolean isSameAccount(StorageConnection c, String first, String second) {
        String[] a = accountIdentity(c, ObjectNames.require(first));
        String[] b = accountIdentity(c, ObjectNames.require(second));
        return a[1] != null && b[1] != null ? a[1].equals(b[1]) : a[0].equalsIgnoreCase(b[0]);
    }

    /**
     * {account name, normalised endpoint or null} of one designation: empty (the configured account), a
     * connection string, an endpoint URL or a bare account name.
     */
    static String[] accountIdentity(StorageConnection c, String text) {
        String trimmed = text.trim();
        if (trimmed.isEmpty()) {
            return new String[] {c.accountName(), normaliseUrl(c.accountUrl())};
        }
        String url = null;
        if (trimmed.contains("=")) {
            StorageConfig config;
            try {
                config = StorageConfig.parse(trimmed);
                url = c.accountUrlOf(config);
            } catch (RuntimeException e) {
                throw StorageFailure.of(ERRORID.INVALID_CONNECTION_STRING);
            }
        } else if (trimmed.regionMatches(true, 0, "http://", 0, 7)
                || trimmed.regionMatches(true, 0, "https://", 0, 8)) {
            url = trimmed;
        }
        if (url == null) {
            return new String[] {trimmed, null};
        }
        String normalised = normaliseUrl(url);
        return new String[] {accountNameOfUrl(normalised), normalised};
    }

    /** Without query and trailing slashes, in lower case: the form two endpoints are compared in. */
    static String normaliseUrl(String url) {
        String u = url;
        int q = u.indexOf('?');
        if (q >= 0) {
            u = u.substring(0, q);
        }
        while (u.endsWith("/")) {
            u = u.substring(0, u.length() - 1);
        }
        return u.toLowerCase(Locale.ROOT);
    }

    /** The account name inside an endpoint: the first host label, or the first path segment for IP-style URLs. */
    static String accountNameOfUrl(String url) {
        try {
            URI uri = URI.create(url);
            String host = uri.getHost() == null ? "" : uri.getHost();
            boolean ipStyle = host.equals("localhost") || host.matches("[0-9.]+") || host.startsWith("[");
            if (ipStyle) {
                String path = uri.getPath() == null ? "" : uri.getPath();
                String[] parts = path.split("/");
                for (String part : parts) {
                    if (!part.isEmpty()) {
                        return part;
                    }
                }
                return "";
            }
            int dot = host.indexOf('.');
            return dot > 0 ? host.substring(0, dot) : host;
        } catch (IllegalArgumentException e) {
            throw StorageFailure.of(ERRORID.INVALID_ARGUMENT);
        }
    }
}
