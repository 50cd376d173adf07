package com.kq.AzureLibrary;

import com.azure.storage.blob.models.ListBlobsOptions;
import com.kq.KQCloudPluginInterface.ERRORID;
import java.io.UnsupportedEncodingException;
import java.net.URLDecoder;
import java.util.HashMap;
import java.util.Map;
import java.util.logging.Level;
import java.util.logging.Logger;

/**
 * What a SAS token allows, read from the token itself (its {@code sp}, {@code sr}, {@code ss} and {@code srt}
 * fields), so that a backup refuses to start with a token that could not finish it instead of failing at the first
 * object it cannot write. The service stays the judge of validity (signature, expiry, address).
 */
final class SasCheck {
    private static final Logger LOG = Logger.getLogger("com.kq.AzureLibrary");
    /** Read, write, delete, list: what backup, restore, verify and expiry need. */
    private static final String NEEDED = "rwdl";

    private SasCheck() {}

    /** The permissions (and, for an account SAS, scopes) the token lacks, as a sentence; empty when it has all. */
    static String missing(String token) {
        Map<String, String> fields = fields(token);
        String granted = fields.getOrDefault("sp", "");
        StringBuilder lacks = new StringBuilder();
        for (char p : NEEDED.toCharArray()) {
            if (granted.indexOf(p) < 0) {
                lacks.append(lacks.length() == 0 ? "" : ", ")
                        .append(nameOf(p))
                        .append(" (")
                        .append(p)
                        .append(')');
            }
        }
        if (fields.containsKey("ss")) { // an account SAS: it must reach blobs, containers and objects
            if (fields.get("ss").indexOf('b') < 0) {
                lacks.append(lacks.length() == 0 ? "" : ", ").append("the blob service (ss=b)");
            }
            String types = fields.getOrDefault("srt", "");
            if (types.indexOf('c') < 0 || types.indexOf('o') < 0) {
                lacks.append(lacks.length() == 0 ? "" : ", ").append("container and object resources (srt=co)");
            }
        } else if (!"c".equals(fields.get("sr"))) {
            lacks.append(lacks.length() == 0 ? "" : ", ").append("a container scope (sr=c)");
        }
        return lacks.toString();
    }

    /** ACCESS_DENIED, with the missing permissions logged, when a SAS configuration cannot do a backup. */
    static void requirePermissions(StorageConfig config) {
        if (config.sasToken == null) {
            return;
        }
        String lacks = missing(config.sasToken);
        if (!lacks.isEmpty()) {
            LOG.log(Level.WARNING, "The SAS token lacks " + lacks + "; give it the permissions rwdl");
            throw StorageFailure.of(ERRORID.ACCESS_DENIED);
        }
    }

    /**
     * Whether the service answers and accepts the credential. A container SAS may not read the container's
     * properties, so under it the probe lists at most one object instead.
     */
    static void probe(StorageConnection c) {
        requirePermissions(c.config);
        if (isContainerSas(c.config)) {
            c.container
                    .listBlobs(new ListBlobsOptions().setMaxResultsPerPage(1), null)
                    .iterator()
                    .hasNext();
        } else {
            c.container.exists();
        }
    }

    private static boolean isContainerSas(StorageConfig config) {
        return config.sasToken != null && !fields(config.sasToken).containsKey("ss");
    }

    /**
     * Makes sure the container exists. A container SAS cannot create one, so under it a missing container is the
     * answer CONTAINER_NOT_FOUND rather than the service's refusal to create it.
     */
    static void prepareContainer(StorageConnection c) {
        if (isContainerSas(c.config)) {
            probe(c); // a missing container answers CONTAINER_NOT_FOUND
            return;
        }
        requirePermissions(c.config);
        c.container.createIfNotExists();
    }

    private static String decode(String text) {
        try {
            return URLDecoder.decode(text, "UTF-8");
        } catch (UnsupportedEncodingException e) {
            throw new IllegalStateException(e); // every VM has UTF-8
        }
    }

    private static Map<String, String> fields(String token) {
        Map<String, String> out = new HashMap<>();
        for (String pair : token.split("&")) {
            int eq = pair.indexOf('=');
            if (eq > 0) {
                out.put(pair.substring(0, eq), decode(pair.substring(eq + 1)));
            }
        }
        return out;
    }

    private static String nameOf(char permission) {
        switch (permission) {
            case 'r':
                return "read";
            case 'w':
                return "write";
            case 'd':
                return "delete";
            default:
                return "list";
        }
    }
}
