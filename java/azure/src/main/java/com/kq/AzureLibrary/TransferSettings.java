package com.kq.AzureLibrary;

import java.time.Duration;

/**
 * The configuration items of the data path, read from the same connection string as the rest:
 * {@code MaxInFlight}, {@code ReadAhead}, {@code RangeSize}, {@code MaxBufferMemory}, {@code TryTimeout}, {@code MinRate}, {@code CallTimeout}. Their
 * rules and defaults are rows of {@link StorageConfig}'s item table; the module's README gives their meaning.
 * The time limits of every request, data path or not, are worked out here from them.
 */
final class TransferSettings {
    final int maxInFlight;
    final int readAhead;
    final int rangeSize;
    final long maxBufferMemory;
    final long tryBaseSeconds;
    final long minRate;
    final long callTimeoutSeconds;

    TransferSettings(StorageConfig config) {
        maxInFlight = config.number("MaxInFlight");
        readAhead = config.number("ReadAhead");
        rangeSize = config.number("RangeSize");
        maxBufferMemory = config.longNumber("MaxBufferMemory");
        tryBaseSeconds = config.longNumber("TryTimeout");
        minRate = config.longNumber("MinRate");
        callTimeoutSeconds = config.longNumber("CallTimeout");
    }

    RetryPolicy retryPolicy(int maxTries) {
        return new RetryPolicy(
                maxTries, Duration.ofSeconds(tryBaseSeconds), minRate, Duration.ofSeconds(callTimeoutSeconds));
    }

    /**
     * The time one try of a request outside the data path may take (listings, properties, metadata, container
     * calls): their answers are small, so {@code TryTimeout} plus the time of 1 MiB at {@code MinRate}. With
     * {@code MaxTries} tries and the back-off between them this bounds every such call, so that a stalled link
     * cannot hold a listing or an open forever.
     */
    Duration controlTryTimeout() {
        return Duration.ofSeconds(tryBaseSeconds + Math.max(1, (1L << 20) / minRate));
    }

    /**
     * The longest a try of any request may take: a data request moving a whole block, or the largest range
     * checked by the service's MD5, at {@code MinRate}.
     */
    Duration longestTry(int blockSize) {
        long bytes = Math.max(blockSize, DataPath.MD5_RANGE_LIMIT);
        return Duration.ofSeconds(tryBaseSeconds + Math.max(1, bytes / minRate));
    }
}
