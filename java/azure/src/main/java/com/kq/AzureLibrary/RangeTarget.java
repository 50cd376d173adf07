package com.kq.AzureLibrary;

import java.nio.ByteBuffer;
import java.nio.channels.AsynchronousByteChannel;
import java.nio.channels.CompletionHandler;
import java.security.MessageDigest;
import java.util.concurrent.CancellationException;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.Future;

/**
 * Where the body of one try of a ranged read lands: {@code count} bytes of {@code target} from {@code at}, hashed as
 * they arrive (while they are still in the cache, so a check adds no pass of its own). The SDK writes the body into
 * it through one reused buffer, instead of handing over a new 8 KiB buffer per piece.
 *
 * <p>The body may go on arriving on a client thread after the try has ended (timed out, cancelled, failed), when the
 * target may already be a pool buffer lent to another range: every copy holds this object's lock and {@link #end()}
 * sets it ended, so no byte of an ended try lands in the target.
 *
 * <p>Every write completes at once, on the writer's thread. The SDK asks for the next write from inside the
 * completion, so completions are run one after another by the outermost write rather than nested: a range of any
 * size costs a constant depth of stack.
 */
final class RangeTarget implements AsynchronousByteChannel {
    private final byte[] target;
    private final int at;
    private final int count;
    private final MessageDigest digest;
    private final BlockLayout.Check check;
    private int filled;
    private boolean ended;
    /** The completion the outermost write runs next; only the writing thread touches it (writes never overlap). */
    private Runnable next;

    private boolean completing;

    RangeTarget(byte[] target, int at, int count, MessageDigest digest, BlockLayout.Check check) {
        this.target = target;
        this.at = at;
        this.count = count;
        this.digest = digest;
        this.check = check;
    }

    synchronized int filled() {
        return filled;
    }

    /**
     * Whether what landed passed its check: the service's MD5 of the range ({@code expectedMd5}, when it sent one)
     * or the sums the blocks were staged with.
     */
    synchronized boolean passed(byte[] expectedMd5) {
        if (digest != null && expectedMd5 != null && !MessageDigest.isEqual(expectedMd5, digest.digest())) {
            return false;
        }
        return check == null || check.passed();
    }

    /** No byte lands after this. */
    synchronized void end() {
        ended = true;
    }

    private synchronized int take(ByteBuffer src) {
        if (ended) {
            throw new CancellationException("the try has ended");
        }
        int n = src.remaining();
        if (n > count - filled) {
            throw new IllegalStateException("more data than requested");
        }
        src.get(target, at + filled, n);
        if (digest != null) {
            digest.update(target, at + filled, n);
        }
        if (check != null) {
            check.update(target, at + filled, n);
        }
        filled += n;
        return n;
    }

    @Override
    public <A> void write(ByteBuffer src, A attachment, CompletionHandler<Integer, ? super A> handler) {
        final int n;
        try {
            n = take(src);
        } catch (RuntimeException e) {
            handler.failed(e, attachment);
            return;
        }
        next = () -> handler.completed(n, attachment);
        if (completing) {
            return; // inside a completion: the loop below runs it once that completion returns
        }
        completing = true;
        try {
            while (next != null) {
                Runnable r = next;
                next = null;
                r.run();
            }
        } finally {
            completing = false;
            next = null;
        }
    }

    @Override
    public Future<Integer> write(ByteBuffer src) {
        CompletableFuture<Integer> done = new CompletableFuture<>();
        try {
            done.complete(take(src));
        } catch (RuntimeException e) {
            done.completeExceptionally(e);
        }
        return done;
    }

    @Override
    public <A> void read(ByteBuffer dst, A attachment, CompletionHandler<Integer, ? super A> handler) {
        handler.failed(new UnsupportedOperationException("a range target is written only"), attachment);
    }

    @Override
    public Future<Integer> read(ByteBuffer dst) {
        CompletableFuture<Integer> refused = new CompletableFuture<>();
        refused.completeExceptionally(new UnsupportedOperationException("a range target is written only"));
        return refused;
    }

    @Override
    public boolean isOpen() {
        return true;
    }

    @Override
    public void close() {
        // Nothing to release: the target belongs to the caller.
    }
}
