package com.kq.AzureLibrary;

import com.azure.storage.blob.models.AccessTier;
import com.kq.KQCloudPluginInterface.ERRORID;

import java.io.IOException;
import java.net.URI;
import java.net.URISyntaxException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.Base64;
import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.LinkedHashSet;
import java.util.Locale;
import java.util.Map;
import java.util.Set;
import java.util.function.Function;
import java.util.function.Predicate;
import java.util.regex.Pattern;

/**
 * The library's configuration, read from the first string of {@code AzureInit}: {@code Name=value} items separated
 * by {@code ;}, the items Azure defines for a connection string plus the library's own. Names are matched without
 * regard to case (as Azure does); every item may appear once; an unknown name, a repeated one, or a value that fails
 * its item's rule rejects the whole string. Nothing falls back to the development store: it is used only when the
 * string says {@code UseDevelopmentStorage=true}.
 *
 * <p>Secrets (account key, SAS token, client secret) may stand in the string or come from a file or an environment
 * variable the string names; {@link #reload()} reads those sources again, which is how a rotated key is taken up.
 * No secret appears in {@link #toString()}, and {@link #redact(String)} guards every text that leaves the library.
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

    /** How the library proves who it is. */
    enum Auth {
        SHARED_KEY("SharedKey"), SAS("Sas"), CLIENT_SECRET("ClientSecret"), CLIENT_CERTIFICATE("ClientCertificate"),
        MANAGED_IDENTITY("ManagedIdentity"), WORKLOAD_IDENTITY("WorkloadIdentity"), AZURE_CLI("AzureCli");

        final String label;

        Auth(String label) {
            this.label = label;
        }

        /** Microsoft Entra ID: a bearer token, which the library sends only over HTTPS. */
        boolean usesToken() {
            return this != SHARED_KEY && this != SAS;
        }

        static Auth of(String label) {
            for (Auth a : values()) {
                if (a.label.equalsIgnoreCase(label)) {
                    return a;
                }
            }
            return null;
        }
    }

    private static final Pattern CONTAINER_NAME = Pattern.compile("^(?=.{3,63}$)[a-z0-9](?:[a-z0-9]|-(?!-))*[a-z0-9]$");
    private static final Pattern ACCOUNT_NAME = Pattern.compile("^[a-z0-9]{3,24}$");
    private static final Pattern HOST_SUFFIX = Pattern.compile("^(?=.{1,253}$)[A-Za-z0-9-]+(\\.[A-Za-z0-9-]+)+$");
    private static final Pattern ENV_NAME = Pattern.compile("^[A-Za-z_][A-Za-z0-9_]{0,127}$");
    /** Tenant: a GUID or a domain name; client: a GUID. */
    private static final Pattern GUID = Pattern.compile("^[0-9a-fA-F]{8}(-[0-9a-fA-F]{4}){3}-[0-9a-fA-F]{12}$");
    private static final Pattern SAS_TOKEN = Pattern.compile("^\\??([A-Za-z0-9_-]+=[A-Za-z0-9%+/=:.,_-]*&)*"
            + "[A-Za-z0-9_-]+=[A-Za-z0-9%+/=:.,_-]*$");
    private static final Pattern SECRET_ITEMS = Pattern.compile(
            "(?i)(AccountKey|SharedAccessSignature|sig|ClientSecret)=[^;&\\s\"]*");

    /** Whether an item goes to Azure's connection-string parser or is the library's alone. */
    private enum Kind { SERVICE, LIBRARY }

    private static final class Item {
        final String name;
        final Kind kind;
        final Predicate<String> rule;
        final String fallback;

        Item(String name, Kind kind, Predicate<String> rule, String fallback) {
            this.name = name;
            this.kind = kind;
            this.rule = rule;
            this.fallback = fallback;
        }
    }

    /**
     * Every item the string may hold, keyed by its lower-case name. Adding an item is one line here; its value is
     * then read with {@link #text}, {@link #number} or {@link #has}.
     */
    private static final Map<String, Item> ITEMS = table(
            // The items Azure defines for a connection string.
            new Item("DefaultEndpointsProtocol", Kind.SERVICE, v -> v.equals("http") || v.equals("https"), null),
            new Item("AccountName", Kind.SERVICE, v -> ACCOUNT_NAME.matcher(v).matches(), null),
            new Item("AccountKey", Kind.SERVICE, StorageConfig::isBase64Key, null),
            new Item("SharedAccessSignature", Kind.SERVICE, v -> SAS_TOKEN.matcher(v).matches(), null),
            new Item("BlobEndpoint", Kind.SERVICE, StorageConfig::isEndpoint, null),
            new Item("EndpointSuffix", Kind.SERVICE, v -> HOST_SUFFIX.matcher(v).matches(), null),
            new Item("UseDevelopmentStorage", Kind.LIBRARY, v -> v.equalsIgnoreCase("true"), null),
            // The library's own items.
            new Item("Container", Kind.LIBRARY, v -> CONTAINER_NAME.matcher(v).matches(), DEFAULT_CONTAINER),
            new Item("BlockSize", Kind.LIBRARY, v -> inRange(v, 1, MAX_BLOCK_SIZE), "" + DEFAULT_BLOCK_SIZE),
            new Item("MaxTries", Kind.LIBRARY, v -> inRange(v, 1, MAX_MAX_TRIES), "" + DEFAULT_MAX_TRIES),
            new Item("AccessTier", Kind.LIBRARY, v -> tierOf(v) != null, null),
            new Item("ListLength", Kind.LIBRARY, v -> v.equalsIgnoreCase("true") || v.equalsIgnoreCase("false"),
                    "false"),
            new Item("Auth", Kind.LIBRARY, v -> Auth.of(v) != null, null),
            new Item("AccountKeyFile", Kind.LIBRARY, StorageConfig::isPath, null),
            new Item("AccountKeyEnv", Kind.LIBRARY, v -> ENV_NAME.matcher(v).matches(), null),
            new Item("SasFile", Kind.LIBRARY, StorageConfig::isPath, null),
            new Item("SasEnv", Kind.LIBRARY, v -> ENV_NAME.matcher(v).matches(), null),
            new Item("TenantId", Kind.LIBRARY, v -> GUID.matcher(v).matches() || HOST_SUFFIX.matcher(v).matches(),
                    null),
            new Item("ClientId", Kind.LIBRARY, v -> GUID.matcher(v).matches(), null),
            new Item("ClientSecretFile", Kind.LIBRARY, StorageConfig::isPath, null),
            new Item("ClientSecretEnv", Kind.LIBRARY, v -> ENV_NAME.matcher(v).matches(), null),
            new Item("ClientCertificateFile", Kind.LIBRARY, StorageConfig::isPath, null),
            // The data path's items (TransferSettings checks and holds them).
            new Item("MaxInFlight", Kind.LIBRARY, transferRule("MaxInFlight"), null),
            new Item("MaxBufferMemory", Kind.LIBRARY, transferRule("MaxBufferMemory"), null),
            new Item("ReadAhead", Kind.LIBRARY, transferRule("ReadAhead"), null),
            new Item("RangeSize", Kind.LIBRARY, transferRule("RangeSize"), null),
            new Item("TryTimeout", Kind.LIBRARY, transferRule("TryTimeout"), null),
            new Item("MinRate", Kind.LIBRARY, transferRule("MinRate"), null),
            new Item("CallTimeout", Kind.LIBRARY, transferRule("CallTimeout"), null));

    /** The items as given (canonical name -> value), defaults not included. */
    private final Map<String, String> given;
    private final Function<String, String> environment;
    /** What the SDK is given for shared key and SAS (holds the secret); null for a token. */
    final String serviceConnectionString;
    /** The blob endpoint a token credential is sent to; null for shared key and SAS. */
    final String tokenEndpoint;
    /** The SAS token without its leading '?', wherever it came from; null unless {@link Auth#SAS}. */
    final String sasToken;
    /** The client secret of {@link Auth#CLIENT_SECRET}, read from its file or variable. */
    final String clientSecret;
    final Auth auth;
    final String containerName;
    final int blockSize;
    final int maxTries;
    /** The tier of new objects; null leaves it to the account's default. */
    final AccessTier accessTier;
    /** Whether each listed object carries its length as {@value MetadataCodec#LENGTH_PROPERTY}. */
    final boolean listLength;
    final boolean developmentStore;
    /** The data path's items (parallelism, buffer memory, time limits). */
    final TransferSettings transfer = new TransferSettings();
    private final Set<String> secrets;

    private StorageConfig(Map<String, String> given, Function<String, String> environment) {
        this.given = given;
        this.environment = environment;
        this.containerName = text("Container");
        this.blockSize = number("BlockSize");
        this.maxTries = number("MaxTries");
        this.accessTier = has("AccessTier") ? tierOf(text("AccessTier")) : null;
        this.listLength = Boolean.parseBoolean(text("ListLength"));
        this.developmentStore = has("UseDevelopmentStorage");
        for (Map.Entry<String, String> e : given.entrySet()) {
            transfer.accept(e.getKey(), e.getValue());
        }
        Set<String> found = new LinkedHashSet<>();

        if (developmentStore) {
            for (String name : given.keySet()) {
                if (ITEMS.get(name.toLowerCase(Locale.ROOT)).kind == Kind.SERVICE || name.equals("Auth")
                        || name.endsWith("File") || name.endsWith("Env") || name.endsWith("Id")) {
                    throw invalid(); // an account and the development store at once: which one was meant?
                }
            }
            auth = Auth.SHARED_KEY;
            serviceConnectionString = developmentConnectionString();
            tokenEndpoint = null;
            clientSecret = null;
            sasToken = null;
            secrets = Collections.emptySet();
            return;
        }

        String key = secret("AccountKey", "AccountKeyFile", "AccountKeyEnv");
        String sas = secret("SharedAccessSignature", "SasFile", "SasEnv");
        String implied = key != null ? (sas != null ? null : Auth.SHARED_KEY.label) : sas != null ? Auth.SAS.label
                : null;
        if (key != null && sas != null) {
            throw invalid(); // two credentials: the one that would be used is not obvious
        }
        Auth chosen = has("Auth") ? Auth.of(text("Auth")) : Auth.of(implied == null ? "" : implied);
        if (chosen == null || (implied != null && !chosen.label.equals(implied))
                || (chosen == Auth.SHARED_KEY && key == null) || (chosen == Auth.SAS && sas == null)) {
            throw invalid();
        }
        auth = chosen;
        sasToken = sas == null ? null : sas.startsWith("?") ? sas.substring(1) : sas;
        if (key != null && !isBase64Key(key) || sas != null && !SAS_TOKEN.matcher(sas).matches()) {
            throw invalid(); // a file or variable holding something else than a key or a token
        }
        if (!has("AccountName") && !has("BlobEndpoint")) {
            throw invalid();
        }
        if (auth == Auth.SHARED_KEY && !has("AccountName")) {
            throw invalid();
        }
        requireOnly(auth);
        String secretOfClient = auth == Auth.CLIENT_SECRET ? secret(null, "ClientSecretFile", "ClientSecretEnv") : null;
        if (auth == Auth.CLIENT_SECRET && secretOfClient == null) {
            throw invalid();
        }
        clientSecret = secretOfClient;
        for (String s : new String[] {key, sas, secretOfClient}) {
            if (s != null) {
                found.add(s);
            }
        }
        secrets = Collections.unmodifiableSet(found);

        if (auth.usesToken()) {
            String endpoint = has("BlobEndpoint") ? text("BlobEndpoint")
                    : "https://" + text("AccountName") + ".blob."
                    + (has("EndpointSuffix") ? text("EndpointSuffix") : "core.windows.net");
            if (!endpoint.regionMatches(true, 0, "https://", 0, 8)
                    || has("DefaultEndpointsProtocol") && !text("DefaultEndpointsProtocol").equals("https")) {
                throw invalid(); // a bearer token is never sent in clear text
            }
            tokenEndpoint = endpoint;
            serviceConnectionString = null;
        } else {
            StringBuilder out = new StringBuilder();
            for (Map.Entry<String, String> e : given.entrySet()) {
                Item item = ITEMS.get(e.getKey().toLowerCase(Locale.ROOT));
                if (item.kind == Kind.SERVICE && !e.getKey().equals("AccountKey")
                        && !e.getKey().equals("SharedAccessSignature")) {
                    out.append(e.getKey()).append('=').append(e.getValue()).append(';');
                }
            }
            if (key != null) {
                out.append("AccountKey=").append(key).append(';');
            } else {
                out.append("SharedAccessSignature=").append(sasToken).append(';');
            }
            serviceConnectionString = out.toString();
            tokenEndpoint = null;
        }
    }

    /** The items each way of authenticating needs, and those it cannot use. */
    private void requireOnly(Auth a) {
        boolean tenant = has("TenantId");
        boolean client = has("ClientId");
        boolean secretSource = has("ClientSecretFile") || has("ClientSecretEnv");
        boolean certificate = has("ClientCertificateFile");
        boolean ok;
        switch (a) {
            case CLIENT_SECRET:
                ok = tenant && client && secretSource && !certificate;
                break;
            case CLIENT_CERTIFICATE:
                ok = tenant && client && certificate && !secretSource;
                break;
            case MANAGED_IDENTITY:
                ok = !tenant && !secretSource && !certificate;
                break;
            case WORKLOAD_IDENTITY:
            case AZURE_CLI:
                ok = !secretSource && !certificate && (a == Auth.WORKLOAD_IDENTITY || !client);
                break;
            default:
                ok = !tenant && !client && !secretSource && !certificate;
        }
        if (!ok) {
            throw invalid();
        }
    }

    static String developmentConnectionString() {
        return "DefaultEndpointsProtocol=http;AccountName=" + DEV_ACCOUNT + ";AccountKey=" + DEV_KEY
                + ";BlobEndpoint=" + DEV_BLOB_ENDPOINT + ";";
    }

    static StorageConfig parse(String text) {
        return parse(text, System::getenv);
    }

    /** As {@link #parse(String)}, with the environment variables a secret may come from looked up in {@code env}. */
    static StorageConfig parse(String text, Function<String, String> env) {
        if (text == null) {
            throw StorageFailure.of(ERRORID.INVALID_ARGUMENT);
        }
        Map<String, String> given = new LinkedHashMap<>();
        for (String raw : text.split(";", -1)) {
            String entry = raw.trim();
            if (entry.isEmpty()) {
                continue;
            }
            int eq = entry.indexOf('=');
            Item item = eq <= 0 ? null : ITEMS.get(entry.substring(0, eq).trim().toLowerCase(Locale.ROOT));
            String value = eq <= 0 ? "" : entry.substring(eq + 1).trim();
            if (item == null || given.containsKey(item.name) || value.isEmpty() || !item.rule.test(value)) {
                throw invalid();
            }
            given.put(item.name, value);
        }
        return new StorageConfig(Collections.unmodifiableMap(given), env);
    }

    /** The same items with every secret read again from its file or environment variable. */
    StorageConfig reload() {
        return new StorageConfig(given, environment);
    }

    /** Whether the secrets come from a file or the environment, i.e. whether {@link #reload()} may find new ones. */
    boolean hasSecretSource() {
        for (String name : given.keySet()) {
            if (name.endsWith("File") || name.endsWith("Env")) {
                return true;
            }
        }
        return false;
    }

    boolean has(String item) {
        return given.containsKey(item);
    }

    /** The item's value, or its default. */
    String text(String item) {
        String v = given.get(item);
        return v != null ? v : ITEMS.get(item.toLowerCase(Locale.ROOT)).fallback;
    }

    private static Predicate<String> transferRule(String name) {
        return v -> {
            try {
                return new TransferSettings().accept(name, v);
            } catch (StorageFailure f) {
                return false;
            }
        };
    }

    int number(String item) {
        return Integer.parseInt(text(item));
    }

    /** A secret given in the string, in a file or in a variable: at most one of the three. */
    private String secret(String inline, String file, String env) {
        int sources = (inline != null && has(inline) ? 1 : 0) + (has(file) ? 1 : 0) + (has(env) ? 1 : 0);
        if (sources > 1) {
            throw invalid();
        }
        if (inline != null && has(inline)) {
            return text(inline);
        }
        if (has(file)) {
            try {
                String v = new String(Files.readAllBytes(Paths.get(text(file))), StandardCharsets.UTF_8).trim();
                if (v.isEmpty()) {
                    throw invalid();
                }
                return v;
            } catch (IOException | RuntimeException e) {
                // The exception names the path only, but the answer is the same for every unreadable source.
                throw invalid();
            }
        }
        if (has(env)) {
            String v = environment.apply(text(env));
            if (v == null || v.trim().isEmpty()) {
                throw invalid();
            }
            return v.trim();
        }
        return null;
    }

    private static StorageFailure invalid() {
        return StorageFailure.of(ERRORID.INVALID_CONNECTION_STRING);
    }

    private static Map<String, Item> table(Item... items) {
        Map<String, Item> out = new LinkedHashMap<>();
        for (Item item : items) {
            out.put(item.name.toLowerCase(Locale.ROOT), item);
        }
        return Collections.unmodifiableMap(out);
    }

    private static boolean inRange(String v, long min, long max) {
        try {
            long n = Long.parseLong(v);
            return n >= min && n <= max;
        } catch (NumberFormatException e) {
            return false;
        }
    }

    private static boolean isBase64Key(String v) {
        try {
            return Base64.getDecoder().decode(v).length >= 16;
        } catch (IllegalArgumentException e) {
            return false;
        }
    }

    /** An absolute http(s) URL naming a host, without query or fragment (a SAS belongs in its own item). */
    private static boolean isEndpoint(String v) {
        try {
            URI u = new URI(v);
            String scheme = u.getScheme() == null ? "" : u.getScheme().toLowerCase(Locale.ROOT);
            return (scheme.equals("http") || scheme.equals("https")) && u.getHost() != null && u.getQuery() == null
                    && u.getFragment() == null && u.getUserInfo() == null;
        } catch (URISyntaxException e) {
            return false;
        }
    }

    private static boolean isPath(String v) {
        try {
            return Paths.get(v).isAbsolute();
        } catch (RuntimeException e) {
            return false;
        }
    }

    static AccessTier tierOf(String v) {
        for (String t : new String[] {"Hot", "Cool", "Cold", "Archive"}) {
            if (t.equalsIgnoreCase(v)) {
                return AccessTier.fromString(t);
            }
        }
        return null;
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
                + ", auth=" + auth.label + (accessTier != null ? ", tier=" + accessTier : "")
                + (developmentStore ? ", development store" : "") + "]";
    }
}
