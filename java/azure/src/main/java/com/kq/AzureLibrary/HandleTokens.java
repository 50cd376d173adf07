package com.kq.AzureLibrary;

import java.security.SecureRandom;
import java.util.LinkedHashMap;
import java.util.Map;

/**
 * Session handles: {@code kqh-} and 32 hex digits from a strong random source, so a handle can be neither guessed
 * nor repeated. A string is a handle because the session table holds it, never because of its shape: an object
 * may well be named {@code kqh-...}. So that a handle used after its close does not silently turn into an object
 * name, the most recent {@value #RETIRED_KEPT} closed handles are remembered and still answer INVALID_HANDLE.
 */
final class HandleTokens {
    static final String PREFIX = "kqh-";
    static final int RETIRED_KEPT = 16_384;
    private static final SecureRandom RANDOM = new SecureRandom();

    private final Map<String, Boolean> retired = new LinkedHashMap<String, Boolean>(64, 0.75f, false) {
        private static final long serialVersionUID = 1L;

        @Override
        protected boolean removeEldestEntry(Map.Entry<String, Boolean> eldest) {
            return size() > RETIRED_KEPT;
        }
    };

    static String newHandle() {
        byte[] raw = new byte[16];
        RANDOM.nextBytes(raw);
        StringBuilder out = new StringBuilder(PREFIX.length() + 32).append(PREFIX);
        for (byte b : raw) {
            out.append(Character.forDigit((b >> 4) & 0xf, 16)).append(Character.forDigit(b & 0xf, 16));
        }
        return out.toString();
    }

    synchronized void retire(String handle) {
        retired.put(handle, Boolean.TRUE);
    }

    synchronized boolean isRetired(String text) {
        return retired.containsKey(text);
    }
}
