package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.ERRORID;

/**
 * Which strings are usable object names. Checked here, before any request, so that a name Azure would refuse or
 * silently change (a trailing '.' or '/', a backslash turned into a slash) is refused with INVALID_NAME instead.
 */
final class ObjectNames {
    /** Azure's limit on blob names, in characters. */
    static final int MAX_NAME_LENGTH = 1024;
    static final int MAX_NAME_SEGMENTS = 254;

    private ObjectNames() {
    }

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
        for (int i = 0; i < path.length(); i++) {
            char ch = path.charAt(i);
            if (ch < 0x20 || ch == 0x7f || ch == '\\') {
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
                segments++;
            }
        }
        return segments <= MAX_NAME_SEGMENTS;
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
