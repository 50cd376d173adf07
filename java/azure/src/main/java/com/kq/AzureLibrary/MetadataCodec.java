package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.ERRORID;
import java.nio.ByteBuffer;
import java.nio.CharBuffer;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.CodingErrorAction;
import java.nio.charset.StandardCharsets;
import java.util.AbstractMap;
import java.util.ArrayList;
import java.util.Base64;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Set;
import java.util.TreeMap;
import java.util.regex.Pattern;

/**
 * Reversible encoding between the host's metadata (any names, any text) and blob metadata, whose names must be
 * C#-style identifiers, are matched without regard to case, travel as HTTP header names, and whose values must be
 * printable ASCII without surrounding blanks.
 *
 * <p>Names: a name of lower-case ASCII letters, digits and underscores that does not start with a digit or with
 * {@value #NAME_PREFIX} is stored as it is. Every other name (upper case, blanks, hyphens, non-ASCII, empty, ...)
 * is stored as {@value #NAME_PREFIX} followed by the lower-case, unpadded Base32 of its UTF-8 bytes, which is
 * again such an identifier and cannot collide with a name stored as it is or with another encoded name.
 *
 * <p>Values: printable ASCII without a leading or trailing blank, not empty and not starting with
 * {@value #VALUE_PREFIX}, is stored as it is; every other value as {@value #VALUE_PREFIX} followed by the Base64 of
 * its UTF-8 bytes.
 *
 * <p>Stored names and values that do not decode (set by another tool) are handed back unchanged.
 *
 * <p>With {@code ListLength=true} a listing adds {@value #LENGTH_PROPERTY} to each object's metadata: a name the
 * library reserves for the blob's real length, which replaces a stored property of that name in the listing (only
 * there: every other read path hands the stored property back).
 */
final class MetadataCodec {
    static final String NAME_PREFIX = "kq_";
    static final String VALUE_PREFIX = "kqb64:";
    static final String LENGTH_PROPERTY = "kq.length";

    private static final Pattern PLAIN_NAME = Pattern.compile("[a-z_][a-z0-9_]*");
    private static final char[] BASE32 = "abcdefghijklmnopqrstuvwxyz234567".toCharArray();

    private MetadataCodec() {}

    static String encodeName(String name) {
        if (PLAIN_NAME.matcher(name).matches() && !name.startsWith(NAME_PREFIX)) {
            return name;
        }
        return NAME_PREFIX + base32(utf8(name));
    }

    static String decodeName(String stored) {
        if (stored.length() >= NAME_PREFIX.length()
                && stored.substring(0, NAME_PREFIX.length()).equalsIgnoreCase(NAME_PREFIX)) {
            byte[] bytes = unbase32(stored.substring(NAME_PREFIX.length()).toLowerCase(Locale.ROOT));
            String text = bytes == null ? null : strictUtf8(bytes);
            if (text != null) {
                return text;
            }
        }
        return stored;
    }

    static String encodeValue(String value) {
        if (!value.isEmpty() && isPlainValue(value) && !value.startsWith(VALUE_PREFIX)) {
            return value;
        }
        return VALUE_PREFIX + Base64.getEncoder().encodeToString(utf8(value));
    }

    static String decodeValue(String stored) {
        if (stored == null) {
            return "";
        }
        if (stored.startsWith(VALUE_PREFIX)) {
            try {
                String text = strictUtf8(Base64.getDecoder().decode(stored.substring(VALUE_PREFIX.length())));
                if (text != null) {
                    return text;
                }
            } catch (IllegalArgumentException notBase64) {
                // someone else's value that merely looks like ours
            }
        }
        return stored;
    }

    /**
     * The host's entries in stored form, in the order given. A null array is no metadata. A null entry or a null
     * name is refused; a null value is the empty text; of two entries with the same name the first wins.
     */
    static Map<String, String> toStored(CPluginMetaData[] entries) {
        Map<String, String> stored = new LinkedHashMap<>();
        if (entries == null) {
            return stored;
        }
        for (CPluginMetaData entry : entries) {
            if (entry == null || entry.szPropertyName == null) {
                throw StorageFailure.of(ERRORID.INVALID_METADATA);
            }
            String value = entry.val == null || entry.val.szProperty == null ? "" : entry.val.szProperty;
            stored.putIfAbsent(encodeName(entry.szPropertyName), encodeValue(value));
        }
        return stored;
    }

    /** One property in stored form. */
    static Map.Entry<String, String> toStored(String name, String value) {
        return new AbstractMap.SimpleImmutableEntry<>(encodeName(name), encodeValue(value == null ? "" : value));
    }

    /**
     * Stored metadata as the host's entries, sorted by decoded name. With {@code wanted} not null only those
     * names are returned.
     */
    static CPluginMetaData[] fromStored(Map<String, String> stored, Set<String> wanted) {
        TreeMap<String, String> decoded = decode(stored);
        List<CPluginMetaData> out = new ArrayList<>(decoded.size());
        decoded.forEach((name, value) -> {
            if (wanted == null || wanted.contains(name)) {
                out.add(new CPluginMetaData(name, value));
            }
        });
        return out.toArray(new CPluginMetaData[0]);
    }

    /**
     * The entries with {@value #LENGTH_PROPERTY} set to {@code length} in decimal, typed INTEGER, in place of any
     * entry of that name; unchanged when the length is unknown.
     */
    static CPluginMetaData[] withLength(CPluginMetaData[] entries, Long length) {
        if (length == null) {
            return entries;
        }
        List<CPluginMetaData> out = new ArrayList<>(entries.length + 1);
        for (CPluginMetaData entry : entries) {
            if (!LENGTH_PROPERTY.equals(entry.szPropertyName)) {
                out.add(entry);
            }
        }
        out.add(new CPluginMetaData(LENGTH_PROPERTY, new CPluginValue(Long.toString(length), CPropertyTYPE.INTEGER)));
        return out.toArray(new CPluginMetaData[0]);
    }

    static TreeMap<String, String> decode(Map<String, String> stored) {
        TreeMap<String, String> decoded = new TreeMap<>();
        if (stored != null) {
            stored.forEach((name, value) -> decoded.putIfAbsent(decodeName(name), decodeValue(value)));
        }
        return decoded;
    }

    private static boolean isPlainValue(String value) {
        for (int i = 0; i < value.length(); i++) {
            char c = value.charAt(i);
            if (c < 0x20 || c > 0x7e) {
                return false;
            }
        }
        return value.charAt(0) != ' ' && value.charAt(value.length() - 1) != ' ';
    }

    /** UTF-8 that refuses unpaired surrogates instead of silently turning them into '?'. */
    private static byte[] utf8(String text) {
        try {
            ByteBuffer buf = StandardCharsets.UTF_8
                    .newEncoder()
                    .onMalformedInput(CodingErrorAction.REPORT)
                    .onUnmappableCharacter(CodingErrorAction.REPORT)
                    .encode(CharBuffer.wrap(text));
            byte[] bytes = new byte[buf.remaining()];
            buf.get(bytes);
            return bytes;
        } catch (CharacterCodingException e) {
            throw StorageFailure.of(ERRORID.INVALID_METADATA);
        }
    }

    private static String strictUtf8(byte[] bytes) {
        try {
            return StandardCharsets.UTF_8
                    .newDecoder()
                    .onMalformedInput(CodingErrorAction.REPORT)
                    .onUnmappableCharacter(CodingErrorAction.REPORT)
                    .decode(ByteBuffer.wrap(bytes))
                    .toString();
        } catch (CharacterCodingException e) {
            return null;
        }
    }

    static String base32(byte[] data) {
        StringBuilder out = new StringBuilder((data.length * 8 + 4) / 5);
        int buffer = 0;
        int bits = 0;
        for (byte b : data) {
            buffer = (buffer << 8) | (b & 0xff);
            bits += 8;
            while (bits >= 5) {
                out.append(BASE32[(buffer >>> (bits - 5)) & 31]);
                bits -= 5;
            }
        }
        if (bits > 0) {
            out.append(BASE32[(buffer << (5 - bits)) & 31]);
        }
        return out.toString();
    }

    /** Null when the text is not the canonical unpadded Base32 of some bytes. */
    static byte[] unbase32(String text) {
        int n = text.length();
        if (n * 5 % 8 >= 5) {
            return null; // a length no byte count encodes to
        }
        byte[] out = new byte[n * 5 / 8];
        int buffer = 0;
        int bits = 0;
        int pos = 0;
        for (int i = 0; i < n; i++) {
            char c = text.charAt(i);
            int v;
            if (c >= 'a' && c <= 'z') {
                v = c - 'a';
            } else if (c >= '2' && c <= '7') {
                v = c - '2' + 26;
            } else {
                return null;
            }
            buffer = (buffer << 5) | v;
            bits += 5;
            if (bits >= 8) {
                out[pos++] = (byte) (buffer >>> (bits - 8));
                bits -= 8;
            }
            buffer &= (1 << bits) - 1;
        }
        return buffer == 0 ? out : null; // leftover bits must be zero padding
    }
}
