package com.kq.AzureLibrary;

import java.util.concurrent.ThreadFactory;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * Every thread the library starts: a daemon thread (a host's VM must always be able to exit) named after its work
 * and numbered once across the process, so a thread dump tells the library's threads and their jobs apart.
 */
final class DaemonThreads {
    private static final AtomicInteger NUMBER = new AtomicInteger();

    private DaemonThreads() {}

    /** Threads named {@code kq-azure-<work>-N}. */
    static ThreadFactory named(String work) {
        String prefix = "kq-azure-" + work + "-";
        return r -> {
            Thread t = new Thread(r, prefix + NUMBER.incrementAndGet());
            t.setDaemon(true);
            return t;
        };
    }
}
