package com.kq.AzureLibrary;

import com.azure.core.exception.HttpResponseException;
import com.azure.core.http.HttpHeaderName;
import com.azure.core.http.HttpResponse;
import com.azure.storage.blob.models.BlobErrorCode;
import com.azure.storage.blob.models.BlobStorageException;
import com.kq.KQCloudPluginInterface.ERRORID;
import java.time.Duration;
import java.util.concurrent.ThreadLocalRandom;

/**
 * How the data requests (block staging, uploads, commits, ranged reads) are retried and how long each may take.
 *
 * <ul>
 *   <li>A try may take {@code tryBase + bytes / minRate}: a connection that stalls or trickles slower than
 *       {@code minRate} is abandoned and the request sent again.</li>
 *   <li>At most {@code maxTries} tries, separated by an exponential back-off from 0.5 s to 8 s (with jitter), or
 *       by what the service asks for in {@code Retry-After} when it says so.</li>
 *   <li>All tries and back-offs of one call end by {@code callDeadline}; the last try is cut to what is left.</li>
 * </ul>
 * Retried: 408, 429, 5xx (but 501 and 505), a refused checksum (the body was damaged on the way), time-outs,
 * connection failures and {@link StaleCredentials}. Anything else is the answer.
 */
final class RetryPolicy {
    /**
     * The back-off of every retried request, the data path's here and the SDK's for the others: the fixed time
     * figures of the library, beside the configurable ones of {@link TransferSettings}.
     */
    static final Duration FIRST_DELAY = Duration.ofMillis(500);

    static final Duration MAX_DELAY = Duration.ofSeconds(8);
    /** How long the transport waits for a connection to open. */
    static final Duration CONNECT_TIMEOUT = Duration.ofSeconds(10);

    final int maxTries;
    final Duration tryBase;
    final long minRateBytesPerSecond;
    final Duration callDeadline;

    RetryPolicy(int maxTries, Duration tryBase, long minRateBytesPerSecond, Duration callDeadline) {
        this.maxTries = maxTries;
        this.tryBase = tryBase;
        this.minRateBytesPerSecond = minRateBytesPerSecond;
        this.callDeadline = callDeadline;
    }

    /** The time one try moving {@code bytes} may take. */
    Duration tryTimeout(long bytes) {
        long millis = tryBase.toMillis() + (bytes * 1000L) / Math.max(1, minRateBytesPerSecond);
        return Duration.ofMillis(Math.min(millis, callDeadline.toMillis()));
    }

    /** The pause before try {@code nextTry} (2, 3, ...): exponential with up to 20% jitter, or what the service asked. */
    static Duration backoff(int nextTry, Duration retryAfter) {
        if (retryAfter != null) {
            return retryAfter;
        }
        long base = FIRST_DELAY.toMillis() << Math.min(20, nextTry - 2);
        long capped = Math.min(base, MAX_DELAY.toMillis());
        return Duration.ofMillis(
                capped - (long) (capped * 0.2 * ThreadLocalRandom.current().nextDouble()));
    }

    /** A refusal of a secret that has been replaced since the try was sent; the answer if no try is left. */
    static final class StaleCredentials extends RuntimeException {
        StaleCredentials(RuntimeException refusal) {
            super(refusal);
        }

        RuntimeException refusal() {
            return (RuntimeException) getCause();
        }
    }

    /** Whether a failure is worth another try. */
    static boolean retryable(Throwable t) {
        if (t instanceof StaleCredentials) {
            return true;
        }
        HttpResponse response = responseOf(t);
        if (response != null) {
            int status = response.getStatusCode();
            if (t instanceof BlobStorageException
                    && BlobErrorCode.MD5MISMATCH.equals(((BlobStorageException) t).getErrorCode())) {
                return true;
            }
            return status == 408 || status == 429 || (status >= 500 && status != 501 && status != 505);
        }
        ERRORID id = ErrorMapper.classify(t);
        return id == ERRORID.TIMEOUT || id == ERRORID.NETWORK_ERROR || id == ERRORID.INTEGRITY_ERROR;
    }

    private static final HttpHeaderName RETRY_AFTER_MS = HttpHeaderName.fromString("x-ms-retry-after-ms");

    /** The service's Retry-After (seconds) or x-ms-retry-after-ms, if it sent one. */
    static Duration retryAfter(Throwable t) {
        HttpResponse response = responseOf(t);
        if (response == null) {
            return null;
        }
        try {
            String ms = response.getHeaderValue(RETRY_AFTER_MS);
            if (ms != null) {
                return Duration.ofMillis(Math.max(0, Long.parseLong(ms.trim())));
            }
            String s = response.getHeaderValue(HttpHeaderName.RETRY_AFTER);
            if (s != null) {
                return Duration.ofSeconds(Math.max(0, Long.parseLong(s.trim())));
            }
        } catch (NumberFormatException e) {
            return null; // an HTTP date: fall back to our own back-off
        }
        return null;
    }

    private static HttpResponse responseOf(Throwable t) {
        for (Throwable c = t; c != null; c = c.getCause()) {
            if (c instanceof HttpResponseException) {
                return ((HttpResponseException) c).getResponse();
            }
        }
        return null;
    }

    /** One try of a request, given the time it may take. */
    interface Attempt<T> {
        T run(Duration timeout) throws Exception;
    }

    interface Clock {
        long nanoTime();

        void sleep(Duration d) throws InterruptedException;
    }

    static final Clock SYSTEM_CLOCK = new Clock() {
        @Override
        public long nanoTime() {
            return System.nanoTime();
        }

        @Override
        public void sleep(Duration d) throws InterruptedException {
            Thread.sleep(d.toMillis());
        }
    };

    <T> T run(long bytes, Attempt<T> attempt) {
        return run(bytes, attempt, SYSTEM_CLOCK);
    }

    /**
     * Runs the tries; answers the first success or throws the last failure (a {@link StorageFailure} with
     * TIMEOUT when the deadline leaves no room for another try). An interrupt ends it at once as CANCELLED.
     */
    <T> T run(long bytes, Attempt<T> attempt, Clock clock) {
        long deadline = clock.nanoTime() + callDeadline.toNanos();
        for (int tryNo = 1; ; tryNo++) {
            long left = deadline - clock.nanoTime();
            if (left <= 0) {
                throw StorageFailure.of(ERRORID.TIMEOUT);
            }
            Duration timeout = tryTimeout(bytes);
            if (timeout.toNanos() > left) {
                timeout = Duration.ofNanos(left);
            }
            try {
                return attempt.run(timeout);
            } catch (Throwable t) {
                if (Thread.currentThread().isInterrupted() || ErrorMapper.classify(t) == ERRORID.CANCELLED) {
                    throw StorageFailure.of(ERRORID.CANCELLED);
                }
                Throwable answer = t instanceof StaleCredentials ? ((StaleCredentials) t).refusal() : t;
                if (tryNo >= maxTries || !retryable(t)) {
                    throw unchecked(answer);
                }
                Duration pause = backoff(tryNo + 1, retryAfter(t));
                if (clock.nanoTime() + pause.toNanos() >= deadline) {
                    throw unchecked(answer);
                }
                try {
                    clock.sleep(pause);
                } catch (InterruptedException e) {
                    Thread.currentThread().interrupt();
                    throw StorageFailure.of(ERRORID.CANCELLED);
                }
            }
        }
    }

    private static RuntimeException unchecked(Throwable t) {
        return t instanceof RuntimeException ? (RuntimeException) t : new IllegalStateException(t);
    }
}
