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
    /** Larger blocks would not fit the session's buffer and gain nothing in throughput. */
    private static final long MAX_BLOCK_SIZE = 256L << 20;

    /** The development store's published account and key (the same on every machine; not a secret). */
    static final String DEV_ACCOUNT = "devstoreaccount1";

    static final String DEV_KEY =
            "Eby8vdM02xNOcqFlqUwJPLlmEtlCDXJ1OUzFT50uSRZ6IFsuFq2UVErCz4I6tq/K1SZFPTOtr/KBHBeksoGMGw==";
    static final String DEV_BLOB_ENDPOINT = "http://127.0.0.1:10000/" + DEV_ACCOUNT;

    /** How the library proves who it is. */
    enum Auth {
        SHARED_KEY("SharedKey"),
        SAS("Sas"),
        CLIENT_SECRET("ClientSecret"),
        CLIENT_CERTIFICATE("ClientCertificate"),
        MANAGED_IDENTITY("ManagedIdentity"),
        WORKLOAD_IDENTITY("WorkloadIdentity"),
        AZURE_CLI("AzureCli");

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

    private static final Pattern SAS_TOKEN =
            Pattern.compile("^\\??([A-Za-z0-9_-]+=[A-Za-z0-9%+/=:.,_-]*&)*" + "[A-Za-z0-9_-]+=[A-Za-z0-9%+/=:.,_-]*$");
    private static final Pattern SECRET_ITEMS =
            Pattern.compile("(?i)(AccountKey|SharedAccessSignature|sig|ClientSecret)=[^;&\\s\"]*");

    /**
     * Whether an item goes to Azure's connection-string parser, says who the library is (an identity or a
     * secret's source: meaningless with the development store), or is the library's alone.
     */
    private enum Kind {
        SERVICE,
        IDENTITY,
        LIBRARY
    }

    /** The secrets a configuration may carry, each from at most one source. */
    private enum Secret {
        ACCOUNT_KEY("the account key", StorageConfig::isBase64Key),
        SAS("a SAS token", v -> SAS_TOKEN.matcher(v).matches()),
        CLIENT_SECRET("the client secret of `Auth=ClientSecret`", v -> true),
        /** Read by the credential itself from its file, again at every rotation. */
        CLIENT_CERTIFICATE("the certificate", v -> true);

        final String what;
        /** What the secret must look like, wherever it came from. */
        final Predicate<String> shape;

        Secret(String what, Predicate<String> shape) {
            this.what = what;
            this.shape = shape;
        }
    }

    /** Where a secret comes from: the string itself, or a file or environment variable it names. */
    private enum Source {
        INLINE,
        FILE,
        ENV
    }

    /** How a number item is counted, which is also how the README shows its bounds and default. */
    private enum Unit {
        COUNT("<n>"),
        BYTES("<bytes>"),
        SECONDS("<seconds>"),
        RATE("<bytes/s>");

        final String placeholder;

        Unit(String placeholder) {
            this.placeholder = placeholder;
        }

        String show(long n) {
            return this == BYTES ? bytes(n) : this == RATE ? n + " (" + bytes(n) + "/s)" : Long.toString(n);
        }

        private static String bytes(long n) {
            String[] names = {"TiB", "GiB", "MiB", "KiB"};
            for (int i = 0; i < names.length; i++) {
                long unit = 1L << (40 - 10 * i);
                if (n >= unit && n % unit == 0) {
                    return n / unit + " " + names[i];
                }
            }
            return n + " B";
        }
    }

    /** One item: its name, its rule, its default, and the line that documents it. */
    private static final class Item {
        final String name;
        final Kind kind;
        final Predicate<String> rule;
        /** The value when the item is not given; null when there is none of the library's own. */
        final String fallback;
        /** How the README shows the default: computed from {@link #fallback}, or said in words. */
        final String shownDefault;
        /** The secret the item carries or names, and where it comes from; null for other items. */
        final Secret secret;

        final Source source;
        final Unit unit;
        final String doc;

        private Item(
                String name,
                Kind kind,
                Predicate<String> rule,
                String fallback,
                String shownDefault,
                Secret secret,
                Source source,
                Unit unit,
                String doc) {
            this.name = name;
            this.kind = kind;
            this.rule = rule;
            this.fallback = fallback;
            this.shownDefault = shownDefault;
            this.secret = secret;
            this.source = source;
            this.unit = unit;
            this.doc = doc;
        }

        /** An item of text; {@code fallback} is its default, {@code absent} what its absence means (or null). */
        static Item of(String name, Kind kind, Predicate<String> rule, String fallback, String absent, String doc) {
            String shown = fallback != null ? "`" + fallback + "`" : absent != null ? absent : "";
            return new Item(name, kind, rule, fallback, shown, null, null, null, doc);
        }

        /** A whole number from {@code min} to {@code max}; {@code {bounds}} in the doc shows them. */
        static Item number(String name, Unit unit, long min, long max, long fallback, String doc) {
            return new Item(
                    name,
                    Kind.LIBRARY,
                    v -> inRange(v, min, max),
                    Long.toString(fallback),
                    unit.show(fallback),
                    null,
                    null,
                    unit,
                    doc.replace("{bounds}", unit.show(min) + " to " + unit.show(max)));
        }

        /** Where {@code secret} is read from: the value itself, or a file or variable it names. */
        static Item credential(String name, Secret secret, Source source, String doc) {
            Predicate<String> rule = source == Source.FILE
                    ? StorageConfig::isPath
                    : source == Source.ENV ? v -> ENV_NAME.matcher(v).matches() : secret.shape;
            String text = doc != null
                    ? doc
                    : source == Source.FILE
                            ? "absolute path of a file holding " + secret.what
                            : "name of an environment variable holding " + secret.what;
            return new Item(
                    name,
                    source == Source.INLINE ? Kind.SERVICE : Kind.IDENTITY,
                    rule,
                    null,
                    "",
                    secret,
                    source,
                    null,
                    text);
        }

        /** The item's row in the README's table. */
        String row() {
            return "| `" + name + (unit != null ? "=" + unit.placeholder : "") + "` | " + doc + " |"
                    + (shownDefault.isEmpty() ? "" : " " + shownDefault) + " |";
        }
    }

    /**
     * Every item the string may hold, keyed by its lower-case name, in the order of the README's table (which
     * {@code ConfigurationTest} holds to this one). Adding an item is one line here; its value is then read with
     * {@link #text}, {@link #number} or {@link #has}.
     */
    private static final Map<String, Item> ITEMS = table(
            // The items Azure defines for a connection string.
            Item.of(
                    "DefaultEndpointsProtocol",
                    Kind.SERVICE,
                    v -> v.equals("http") || v.equals("https"),
                    null,
                    "Azure's (`https`)",
                    "`https` or `http`"),
            Item.of(
                    "AccountName",
                    Kind.SERVICE,
                    v -> ACCOUNT_NAME.matcher(v).matches(),
                    null,
                    null,
                    "3 to 24 lower-case letters and digits"),
            Item.credential(
                    "AccountKey",
                    Secret.ACCOUNT_KEY,
                    Source.INLINE,
                    "Base64, at least 16 bytes: shared-key authentication"),
            Item.credential(
                    "SharedAccessSignature",
                    Secret.SAS,
                    Source.INLINE,
                    "an account or container SAS token (`k=v&...`, a leading `?` is dropped)"),
            Item.of(
                    "BlobEndpoint",
                    Kind.SERVICE,
                    StorageConfig::isEndpoint,
                    null,
                    "from the account",
                    "absolute `http(s)` URL without query: custom domains, private endpoints, Azurite"),
            Item.of(
                    "EndpointSuffix",
                    Kind.SERVICE,
                    v -> HOST_SUFFIX.matcher(v).matches(),
                    null,
                    "`core.windows.net`",
                    "host suffix of a sovereign cloud (`core.chinacloudapi.cn`, `core.usgovcloudapi.net`)"),
            Item.of(
                    "UseDevelopmentStorage",
                    Kind.LIBRARY,
                    v -> v.equalsIgnoreCase("true"),
                    null,
                    null,
                    "`true` only: Azurite at `" + DEV_BLOB_ENDPOINT + "`; no account items with it"),
            // The library's own items.
            Item.of(
                    "Container",
                    Kind.LIBRARY,
                    v -> CONTAINER_NAME.matcher(v).matches(),
                    "kq-backup",
                    null,
                    "Azure's container naming rules"),
            Item.number("BlockSize", Unit.BYTES, 1, MAX_BLOCK_SIZE, 8L << 20, "bytes per staged block, {bounds}"),
            Item.number(
                    "MaxTries",
                    Unit.COUNT,
                    1,
                    10,
                    4,
                    "attempts per request, first included, {bounds} " + "(exponential back-off from "
                            + RetryPolicy.FIRST_DELAY.toMillis() / 1000.0 + " s)"),
            Item.of(
                    "AccessTier",
                    Kind.LIBRARY,
                    v -> tierOf(v) != null,
                    null,
                    "the account's default",
                    "`Hot`, `Cool`, `Cold` or `Archive`: tier of every new object"),
            Item.of(
                    "ListLength",
                    Kind.LIBRARY,
                    v -> v.equalsIgnoreCase("true") || v.equalsIgnoreCase("false"),
                    "false",
                    null,
                    "`true` or `false`: `GetObjectSubList` adds each object's real length to its " + "metadata as `"
                            + MetadataCodec.LENGTH_PROPERTY + "` (see below)"),
            Item.of(
                    "Auth",
                    Kind.IDENTITY,
                    v -> Auth.of(v) != null,
                    null,
                    "implied by the credential given",
                    authLabels()),
            Item.credential("AccountKeyFile", Secret.ACCOUNT_KEY, Source.FILE, null),
            Item.credential("AccountKeyEnv", Secret.ACCOUNT_KEY, Source.ENV, null),
            Item.credential("SasFile", Secret.SAS, Source.FILE, null),
            Item.credential("SasEnv", Secret.SAS, Source.ENV, null),
            Item.of(
                    "TenantId",
                    Kind.IDENTITY,
                    v -> GUID.matcher(v).matches() || HOST_SUFFIX.matcher(v).matches(),
                    null,
                    null,
                    "tenant GUID or domain (`ClientSecret`, `ClientCertificate`; optional for "
                            + "`WorkloadIdentity`, `AzureCli`)"),
            Item.of(
                    "ClientId",
                    Kind.IDENTITY,
                    v -> GUID.matcher(v).matches(),
                    null,
                    null,
                    "application or user-assigned identity GUID (`ClientSecret`, `ClientCertificate`; optional for "
                            + "`ManagedIdentity`, `WorkloadIdentity`)"),
            Item.credential("ClientSecretFile", Secret.CLIENT_SECRET, Source.FILE, null),
            Item.credential("ClientSecretEnv", Secret.CLIENT_SECRET, Source.ENV, null),
            Item.credential(
                    "ClientCertificateFile",
                    Secret.CLIENT_CERTIFICATE,
                    Source.FILE,
                    "absolute path of a PEM file holding the certificate and its unencrypted key "
                            + "(`Auth=ClientCertificate`)"),
            // The data path's items (TransferSettings holds them).
            Item.number(
                    "MaxInFlight",
                    Unit.COUNT,
                    1,
                    64,
                    8,
                    "blocks of one write session uploading at once; "
                            + "ranged reads of one large read at once ({bounds}; figures in `bench/MEASUREMENTS.md`)"),
            Item.number(
                    "ReadAhead",
                    Unit.COUNT,
                    0,
                    64,
                    12,
                    "the most ranges a streaming read session fetches "
                            + "ahead of its reads ({bounds}; 0: none); within it the session keeps as many as the link "
                            + "needs, see Read sessions (figures in `bench/MEASUREMENTS.md`)"),
            Item.number(
                    "RangeSize",
                    Unit.BYTES,
                    64L << 10,
                    64L << 20,
                    8L << 20,
                    "bytes per ranged read of whole "
                            + "blocks this library staged, checked by the sums in their block ids ({bounds}; a larger block "
                            + "is read in pieces). Every other range (other tools' objects, the split of a large read) is at "
                            + "most 4 MiB, so the service returns its MD5. `4194304` gives more, smaller requests for the "
                            + "same memory, which suits links whose connections are each slow (figures in "
                            + "`bench/MEASUREMENTS.md`)"),
            // Eight 8 MiB blocks in flight plus the one being filled.
            Item.number(
                    "MaxBufferMemory",
                    Unit.BYTES,
                    1L << 20,
                    1L << 40,
                    72L << 20,
                    "the process-wide cap on "
                            + "the library's block and read buffers, shared by every session and instance ({bounds}; the "
                            + "last `AzureInit` sets it; never more than a quarter of the VM's maximum heap, which must "
                            + "also hold the callers' arrays)"),
            Item.number("TryTimeout", Unit.SECONDS, 1, 3600, 20, "base time of one try of a data request ({bounds})"),
            Item.number(
                    "MinRate",
                    Unit.RATE,
                    1,
                    1L << 40,
                    256L << 10,
                    "slowest transfer rate a try tolerates: a " + "try may last `TryTimeout + bytes / MinRate`"),
            Item.number(
                    "CallTimeout",
                    Unit.SECONDS,
                    1,
                    86_400,
                    300,
                    "deadline of all tries and back-offs of one " + "data request ({bounds})"));

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
    final TransferSettings transfer;

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
        this.transfer = new TransferSettings(this);
        Set<String> found = new LinkedHashSet<>();

        if (developmentStore) {
            for (String name : given.keySet()) {
                if (item(name).kind != Kind.LIBRARY) {
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

        String key = secret(Secret.ACCOUNT_KEY);
        String sas = secret(Secret.SAS);
        String implied =
                key != null ? (sas != null ? null : Auth.SHARED_KEY.label) : sas != null ? Auth.SAS.label : null;
        if (key != null && sas != null) {
            throw invalid(); // two credentials: the one that would be used is not obvious
        }
        Auth chosen = has("Auth") ? Auth.of(text("Auth")) : Auth.of(implied == null ? "" : implied);
        if (chosen == null
                || (implied != null && !chosen.label.equals(implied))
                || (chosen == Auth.SHARED_KEY && key == null)
                || (chosen == Auth.SAS && sas == null)) {
            throw invalid();
        }
        auth = chosen;
        sasToken = sas == null ? null : sas.startsWith("?") ? sas.substring(1) : sas;
        if (key != null && !Secret.ACCOUNT_KEY.shape.test(key) || sas != null && !Secret.SAS.shape.test(sas)) {
            throw invalid(); // a file or variable holding something else than a key or a token
        }
        if (!has("AccountName") && !has("BlobEndpoint")) {
            throw invalid();
        }
        if (auth == Auth.SHARED_KEY && !has("AccountName")) {
            throw invalid();
        }
        requireOnly(auth);
        String secretOfClient = auth == Auth.CLIENT_SECRET ? secret(Secret.CLIENT_SECRET) : null;
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
            String endpoint = has("BlobEndpoint")
                    ? text("BlobEndpoint")
                    : "https://" + text("AccountName") + ".blob."
                            + (has("EndpointSuffix") ? text("EndpointSuffix") : "core.windows.net");
            if (!endpoint.regionMatches(true, 0, "https://", 0, 8)
                    || has("DefaultEndpointsProtocol")
                            && !text("DefaultEndpointsProtocol").equals("https")) {
                throw invalid(); // a bearer token is never sent in clear text
            }
            tokenEndpoint = endpoint;
            serviceConnectionString = null;
        } else {
            StringBuilder out = new StringBuilder();
            for (Map.Entry<String, String> e : given.entrySet()) {
                Item item = item(e.getKey());
                if (item.kind == Kind.SERVICE && item.secret == null) {
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
        boolean secretSource = sourcesOf(Secret.CLIENT_SECRET) > 0;
        boolean certificate = sourcesOf(Secret.CLIENT_CERTIFICATE) > 0;
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
        return "DefaultEndpointsProtocol=http;AccountName=" + DEV_ACCOUNT + ";AccountKey=" + DEV_KEY + ";BlobEndpoint="
                + DEV_BLOB_ENDPOINT + ";";
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
            Item item = eq <= 0 ? null : item(entry.substring(0, eq).trim());
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
            Source source = item(name).source;
            if (source == Source.FILE || source == Source.ENV) {
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
        return v != null ? v : item(item).fallback;
    }

    int number(String item) {
        return Math.toIntExact(longNumber(item));
    }

    long longNumber(String item) {
        return Long.parseLong(text(item));
    }

    /** A number item's default, for the classes that need it before any configuration is given. */
    static long defaultNumber(String item) {
        return Long.parseLong(item(item).fallback);
    }

    private static Item item(String name) {
        return ITEMS.get(name.toLowerCase(Locale.ROOT));
    }

    /** How many of the items that carry or name {@code secret} are given. */
    private int sourcesOf(Secret secret) {
        int n = 0;
        for (String name : given.keySet()) {
            n += item(name).secret == secret ? 1 : 0;
        }
        return n;
    }

    /** A secret given in the string, in a file or in a variable: at most one of the three; null if none. */
    private String secret(Secret secret) {
        if (sourcesOf(secret) > 1) {
            throw invalid();
        }
        for (Map.Entry<String, String> e : given.entrySet()) {
            Item item = item(e.getKey());
            if (item.secret == secret) {
                return read(item.source, e.getValue());
            }
        }
        return null;
    }

    /** The secret that {@code value} is or names. */
    private String read(Source source, String value) {
        if (source == Source.INLINE) {
            return value;
        }
        if (source == Source.FILE) {
            try {
                String v = new String(Files.readAllBytes(Paths.get(value)), StandardCharsets.UTF_8).trim();
                if (v.isEmpty()) {
                    throw invalid();
                }
                return v;
            } catch (IOException | RuntimeException e) {
                // The exception names the path only, but the answer is the same for every unreadable source.
                throw invalid();
            }
        }
        String v = environment.apply(value);
        if (v == null || v.trim().isEmpty()) {
            throw invalid();
        }
        return v.trim();
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

    /** The item table as the module's README shows it, one row per item. */
    static String documentation() {
        StringBuilder out = new StringBuilder();
        for (Item item : ITEMS.values()) {
            out.append(item.row()).append('\n');
        }
        return out.toString();
    }

    private static String authLabels() {
        StringBuilder out = new StringBuilder();
        for (Auth a : Auth.values()) {
            out.append(out.length() == 0 ? "`" : ", `").append(a.label).append('`');
        }
        return out.toString();
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

    /**
     * Whether every request goes to a plain-HTTP endpoint (Azurite, or an account's own http endpoint), by the
     * SDK's rule: BlobEndpoint when given, else DefaultEndpointsProtocol, which is https unless told. A token is
     * only ever sent over TLS.
     */
    boolean cleartext() {
        if (developmentStore) {
            return true;
        }
        if (auth.usesToken()) {
            return false;
        }
        return has("BlobEndpoint")
                ? text("BlobEndpoint").regionMatches(true, 0, "http://", 0, 7)
                : has("DefaultEndpointsProtocol")
                        && text("DefaultEndpointsProtocol").equals("http");
    }

    /** An absolute http(s) URL naming a host, without query or fragment (a SAS belongs in its own item). */
    private static boolean isEndpoint(String v) {
        try {
            URI u = new URI(v);
            String scheme = u.getScheme() == null ? "" : u.getScheme().toLowerCase(Locale.ROOT);
            return (scheme.equals("http") || scheme.equals("https"))
                    && u.getHost() != null
                    && u.getQuery() == null
                    && u.getFragment() == null
                    && u.getUserInfo() == null;
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
