package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.ERRORID;

/**
 * Which strings are usable object names. Checked here, before any request, so that a name Azure would refuse or
 * silently change (a trailing '.' or '/', a backslash turned into a slash, a "." or ".." segment, which an HTTP client
 * may resolve away before sending) or that a listing cannot carry (a character XML 1.0 cannot hold: controls, U+FFFE, U+FFFF, a lone
 * surrogate; the object would be stored, but every later listing of its container would fail) is refused with
 * INVALID_NAME instead. Other noncharacters (U+FDD0..U+FDEF, U+1FFFE, ...) are valid XML and list back exactly.
 */
final class ObjectNames {
    /** Azure's limit on blob names, in characters. */
    static final int MAX_NAME_LENGTH = 1024;

    static final int MAX_NAME_SEGMENTS = 254;

    private ObjectNames() {}

    /** Every string argument passes here first: null is INVALID_ARGUMENT, never an exception. */
    static String require(String text) {
        if (text == null) {
            throw StorageFailure.of(ERRORID.INVALID_ARGUMENT);
        }
        return text;
    }

    /** The string as an object name, or INVALID_NAME. */
    static String plainName(String name) {
        require(name);
        if (!isSupportedName(name, 0)) {
            throw StorageFailure.of(ERRORID.INVALID_NAME);
        }
        return name;
    }

    /**
     * Whether {@code path} with up to {@code extraLength} more characters makes usable names; with 0 the path is
     * itself a whole name, so it may not be empty or end in '.' or '/'.
     */
    static boolean isSupportedName(String path, int extraLength) {
        if ((long) path.length() + extraLength > MAX_NAME_LENGTH) {
            return false;
        }
        if (extraLength == 0 && (path.isEmpty() || path.endsWith(".") || path.endsWith("/"))) {
            return false;
        }
        int segments = 1;
        int segmentStart = 0;
        for (int i = 0; i < path.length(); i++) {
            char ch = path.charAt(i);
            if (ch < 0x20 || ch == 0x7f || ch == '\\' || ch == '\uFFFE' || ch == '\uFFFF') {
                return false;
            }
            if (Character.isHighSurrogate(ch)) {
                if (i + 1 >= path.length() || !Character.isLowSurrogate(path.charAt(i + 1))) {
                    return false;
                }
                i++;
            } else if (Character.isLowSurrogate(ch)) {
                return false;
            } else if (ch == '/') {
                if (isDotSegment(path, segmentStart, i)) {
                    return false;
                }
                segments++;
                segmentStart = i + 1;
            }
        }
        return segments <= MAX_NAME_SEGMENTS; // a last "." or ".." ends in '.', refused above for a whole name
    }

    private static boolean isDotSegment(String path, int start, int end) {
        int n = end - start;
        return (n == 1 || n == 2) && path.startsWith("..".substring(0, n), start);
    }

    /** "set/name", backslashes made slashes, no doubled slash at the joint; INVALID_NAME if unusable. */
    static String storageKey(String archiveSet, String name) {
        String set = trimSlashes(require(archiveSet).replace('\\', '/'), true);
        String object = trimSlashes(require(name).replace('\\', '/'), false);
        String key = set.isEmpty() ? object : set + "/" + object;
        if (!isSupportedName(key, 0)) {
            throw StorageFailure.of(ERRORID.INVALID_NAME);
        }
        return key;
    }

    private static String trimSlashes(String text, boolean trailingToo) {
        int start = 0;
        int end = text.length();
        while (start < end && text.charAt(start) == '/') {
            start++;
        }
        while (trailingToo && end > start && text.charAt(end - 1) == '/') {
            end--;
        }
        return text.substring(start, end);
    }
}
