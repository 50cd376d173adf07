package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.ERRORID;

import java.time.Duration;
import java.util.Locale;

/**
 * The configuration items of the data path, read from the same connection string as the rest:
 * {@code MaxInFlight}, {@code ReadAhead}, {@code RangeSize}, {@code MaxBufferMemory}, {@code TryTimeout}, {@code MinRate}, {@code CallTimeout}. The
 * module's README gives their meaning and defaults.
 */
final class TransferSettings {
    static final int DEFAULT_MAX_IN_FLIGHT = 8;
    static final int MAX_MAX_IN_FLIGHT = 64;
    static final long DEFAULT_TRY_BASE_SECONDS = 20;
    static final long DEFAULT_MIN_RATE = 256L * 1024;
    static final long DEFAULT_CALL_TIMEOUT_SECONDS = 300;

    static final int DEFAULT_READ_AHEAD = 12;
    /** One range per block of kqhost's default size: half the requests of 4 MiB ranges. */
    static final int DEFAULT_RANGE_SIZE = 8 * 1024 * 1024;
    int maxInFlight = DEFAULT_MAX_IN_FLIGHT;
    int readAhead = DEFAULT_READ_AHEAD;
    int rangeSize = DEFAULT_RANGE_SIZE;
    long maxBufferMemory = BufferPool.DEFAULT_CAPACITY;
    long tryBaseSeconds = DEFAULT_TRY_BASE_SECONDS;
    long minRate = DEFAULT_MIN_RATE;
    long callTimeoutSeconds = DEFAULT_CALL_TIMEOUT_SECONDS;

    /** Takes one {@code key=value} item if it is one of ours; false leaves it to the caller. */
    boolean accept(String key, String value) {
        switch (key.toLowerCase(Locale.ROOT)) {
            case "maxinflight":
                maxInFlight = (int) bounded(value, 1, MAX_MAX_IN_FLIGHT);
                return true;
            case "readahead":
                readAhead = (int) bounded(value, 0, MAX_MAX_IN_FLIGHT);
                return true;
            case "rangesize":
                rangeSize = (int) bounded(value, 64L * 1024, 64L * 1024 * 1024);
                return true;
            case "maxbuffermemory":
                maxBufferMemory = bounded(value, 1024L * 1024, 1L << 40);
                return true;
            case "trytimeout":
                tryBaseSeconds = bounded(value, 1, 3600);
                return true;
            case "minrate":
                minRate = bounded(value, 1, 1L << 40);
                return true;
            case "calltimeout":
                callTimeoutSeconds = bounded(value, 1, 86_400);
                return true;
            default:
                return false;
        }
    }

    RetryPolicy retryPolicy(int maxTries) {
        return new RetryPolicy(maxTries, Duration.ofSeconds(tryBaseSeconds), minRate,
                Duration.ofSeconds(callTimeoutSeconds));
    }

    private static long bounded(String value, long min, long max) {
        try {
            long v = Long.parseLong(value.trim());
            if (v >= min && v <= max) {
                return v;
            }
        } catch (NumberFormatException e) {
            // falls through to the refusal
        }
        throw StorageFailure.of(ERRORID.INVALID_CONNECTION_STRING);
    }
}
