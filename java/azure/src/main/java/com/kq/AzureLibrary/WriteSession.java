package com.kq.AzureLibrary;

import com.azure.core.util.BinaryData;
import com.azure.core.util.Context;
import com.azure.storage.blob.options.BlockBlobCommitBlockListOptions;
import com.azure.storage.blob.options.BlockBlobSimpleUploadOptions;
import com.azure.storage.blob.options.BlockBlobStageBlockOptions;
import com.kq.KQCloudPluginInterface.ERRORID;

import java.nio.ByteBuffer;
import java.security.SecureRandom;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Base64;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * An object being written: the data is cut into blocks of the configured size, each staged (uploaded but
 * uncommitted, so invisible) as soon as it is full, and {@link #commit()} makes the blob appear with all its data
 * and metadata at once. An object smaller than one block is uploaded whole at the commit instead, one request.
 *
 * <p>Calls on one session are serialised by the session's own monitor; different sessions never wait for each
 * other. After a failed staging the session is spoilt: every later call, the commit included, reports the first
 * failure and nothing is committed.
 */
final class WriteSession implements Session {
    /** The service refuses a block list longer than this. */
    static final int MAX_BLOCKS = 50_000;
    private static final SecureRandom RANDOM = new SecureRandom();

    private final String handle;
    private final StorageConnection connection;
    private final int blockSize;
    /** Makes this session's block ids differ from those of any other session staging to the same blob. */
    private final byte[] blockIdSalt = new byte[8];
    private final List<String> blockIds = new ArrayList<>();
    private final Map<String, String> storedMetadata = new LinkedHashMap<>();
    private final String blobName;
    private byte[] buffer = new byte[0];
    private int buffered;
    private long totalBytes;
    private ERRORID spoilt;

    WriteSession(String handle, String blobName, StorageConnection connection) {
        this.handle = handle;
        this.blobName = blobName;
        this.connection = connection;
        this.blockSize = connection.config.blockSize;
        RANDOM.nextBytes(blockIdSalt);
    }

    @Override
    public String handle() {
        return handle;
    }

    @Override
    public String blobName() {
        return blobName;
    }

    synchronized long totalBytes() {
        return totalBytes;
    }

    /** Metadata to be committed with the data; a name given again replaces the earlier value. */
    synchronized void putMetadata(Map<String, String> stored) {
        failIfSpoilt();
        storedMetadata.putAll(stored);
    }

    synchronized Map<String, String> storedMetadata() {
        return new LinkedHashMap<>(storedMetadata);
    }

    synchronized void append(byte[] data, int length) {
        failIfSpoilt();
        try {
            int off = 0;
            while (off < length) {
                int remaining = length - off;
                if (buffered == 0 && remaining >= blockSize) {
                    stage(data, off, blockSize); // straight from the caller's array, no copy
                    off += blockSize;
                    continue;
                }
                int n = Math.min(remaining, blockSize - buffered);
                ensureCapacity(buffered + n);
                System.arraycopy(data, off, buffer, buffered, n);
                buffered += n;
                off += n;
                if (buffered == blockSize) {
                    stage(buffer, 0, blockSize);
                    buffered = 0;
                }
            }
            totalBytes += length;
        } catch (Throwable t) {
            spoilt = ErrorMapper.classify(t);
            throw StorageFailure.of(spoilt);
        }
    }

    /** Makes the blob visible: uploads the rest and commits the block list with the metadata. */
    synchronized void commit() {
        failIfSpoilt();
        try {
            Map<String, String> metadata = new LinkedHashMap<>(storedMetadata);
            if (blockIds.isEmpty()) {
                BlockBlobSimpleUploadOptions options = new BlockBlobSimpleUploadOptions(slice(buffer, 0, buffered))
                        .setMetadata(metadata).setTier(connection.config.accessTier);
                connection.writingToContainer(() ->
                        connection.blob(blobName).uploadWithResponse(options, null, Context.NONE));
            } else {
                if (buffered > 0) {
                    stage(buffer, 0, buffered);
                    buffered = 0;
                }
                BlockBlobCommitBlockListOptions options = new BlockBlobCommitBlockListOptions(List.copyOf(blockIds))
                        .setMetadata(metadata).setTier(connection.config.accessTier);
                connection.writingToContainer(() ->
                        connection.blob(blobName).commitBlockListWithResponse(options, null, Context.NONE));
            }
            buffer = new byte[0];
        } catch (Throwable t) {
            spoilt = ErrorMapper.classify(t);
            throw StorageFailure.of(spoilt);
        }
    }

    private void stage(byte[] data, int off, int len) {
        if (blockIds.size() >= MAX_BLOCKS) {
            throw StorageFailure.of(ERRORID.QUOTA_EXCEEDED);
        }
        String id = blockId(blockIds.size());
        BlockBlobStageBlockOptions options = new BlockBlobStageBlockOptions(id, slice(data, off, len));
        connection.writingToContainer(() ->
                connection.blob(blobName).stageBlockWithResponse(options, null, Context.NONE));
        blockIds.add(id);
    }

    /** Same length for every block of the blob, as the service demands. */
    private String blockId(int index) {
        ByteBuffer raw = ByteBuffer.allocate(16).put(blockIdSalt).putLong(index);
        return Base64.getEncoder().encodeToString(raw.array());
    }

    private static BinaryData slice(byte[] data, int off, int len) {
        return off == 0 && len == data.length ? BinaryData.fromBytes(data)
                : BinaryData.fromByteBuffer(ByteBuffer.wrap(data, off, len).slice());
    }

    /** Grows the buffer by doubling, up to one block: small objects never hold a whole block in memory. */
    private void ensureCapacity(int needed) {
        if (buffer.length < needed) {
            int size = Math.max(needed, Math.min(blockSize, Math.max(64 * 1024, buffer.length * 2)));
            buffer = Arrays.copyOf(buffer, size);
        }
    }

    private void failIfSpoilt() {
        if (spoilt != null) {
            throw StorageFailure.of(spoilt);
        }
    }
}
