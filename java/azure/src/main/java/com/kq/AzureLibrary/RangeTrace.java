package com.kq.AzureLibrary;

import java.util.concurrent.atomic.AtomicInteger;

/**
 * A timeline of the data requests, for finding where a transfer's time goes: with the system property
 * {@code com.kq.AzureLibrary.trace=true} every ranged read and staged block prints one line to standard error when
 * it ends: its start and end in ms since the first request, how many were in flight as it ended (itself included), what it was.
 * Off by default, and then it costs one field read per request.
 */
final class RangeTrace {
    static final boolean ON = Boolean.getBoolean("com.kq.AzureLibrary.trace");
    private static final long ORIGIN = System.nanoTime();
    private static final AtomicInteger IN_FLIGHT = new AtomicInteger();

    private RangeTrace() {}

    /** The request's start, to hand to {@link #end}; 0 when tracing is off. */
    static long start() {
        if (!ON) {
            return 0;
        }
        IN_FLIGHT.incrementAndGet();
        return System.nanoTime();
    }

    static void end(long began, String what, String blob, long offset, long count) {
        if (!ON) {
            return;
        }
        int before = IN_FLIGHT.getAndDecrement();
        long now = System.nanoTime();
        System.err.printf(
                "kq-trace %s %d-%d ms in-flight %d %s @%d +%d%n",
                what, (began - ORIGIN) / 1_000_000, (now - ORIGIN) / 1_000_000, before, blob, offset, count);
    }
}
