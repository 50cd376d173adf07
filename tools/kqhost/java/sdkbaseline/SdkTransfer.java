package sdkbaseline;

import com.azure.core.util.Context;
import com.azure.storage.blob.BlobClient;
import com.azure.storage.blob.BlobContainerClient;
import com.azure.storage.blob.BlobServiceClientBuilder;
import com.azure.storage.blob.models.ParallelTransferOptions;
import com.azure.storage.blob.options.BlobDownloadToFileOptions;
import com.azure.storage.blob.options.BlobUploadFromFileOptions;
import java.nio.file.OpenOption;
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;
import java.util.Set;

/**
 * The yardstick for kqhost's single-file throughput: the Azure SDK's own parallel transfer of one file, with the
 * same block size and a fixed concurrency, through the same HTTP client the library uses.
 *
 * <pre>
 *   SdkTransfer upload FILE NAME BLOCKSIZE CONCURRENCY     prints "sdk-upload: BYTES SECONDS"
 *   SdkTransfer download FILE NAME BLOCKSIZE CONCURRENCY   prints "sdk-download: BYTES SECONDS"
 * </pre>
 * The connection string comes from AZURE_STORAGE_CONNECTION_STRING; the container is kq-sdk-baseline.
 * SECONDS count the transfer only; the link benchmark times the whole process, as it does kqhost.
 */
public final class SdkTransfer {
    private SdkTransfer() {}

    public static void main(String[] args) {
        if (args.length != 5 || !(args[0].equals("upload") || args[0].equals("download"))) {
            System.err.println("usage: SdkTransfer upload|download FILE NAME BLOCKSIZE CONCURRENCY");
            System.exit(2);
        }
        String connection = System.getenv("AZURE_STORAGE_CONNECTION_STRING");
        if (connection == null || connection.isEmpty()) {
            System.err.println("SdkTransfer: AZURE_STORAGE_CONNECTION_STRING is not set");
            System.exit(2);
        }
        Path file = Path.of(args[1]);
        long blockSize = Long.parseLong(args[3]);
        int concurrency = Integer.parseInt(args[4]);
        // The upload and the download API take the same settings as two different types.
        ParallelTransferOptions parallel = new ParallelTransferOptions()
                .setBlockSizeLong(blockSize)
                .setMaxSingleUploadSizeLong(blockSize)
                .setMaxConcurrency(concurrency);
        com.azure.storage.common.ParallelTransferOptions parallelRead =
                new com.azure.storage.common.ParallelTransferOptions()
                        .setBlockSizeLong(blockSize)
                        .setMaxConcurrency(concurrency);
        BlobContainerClient container = new BlobServiceClientBuilder()
                .connectionString(connection)
                .buildClient()
                .getBlobContainerClient("kq-sdk-baseline");
        container.createIfNotExists();
        BlobClient blob = container.getBlobClient(args[2]);

        long started = System.nanoTime();
        long bytes;
        if (args[0].equals("upload")) {
            blob.uploadFromFileWithResponse(
                    new BlobUploadFromFileOptions(file.toString()).setParallelTransferOptions(parallel),
                    null,
                    Context.NONE);
            bytes = blob.getProperties().getBlobSize();
        } else {
            Set<OpenOption> open = Set.of(
                    StandardOpenOption.CREATE,
                    StandardOpenOption.TRUNCATE_EXISTING,
                    StandardOpenOption.READ,
                    StandardOpenOption.WRITE);
            bytes = blob.downloadToFileWithResponse(
                            new BlobDownloadToFileOptions(file.toString())
                                    .setParallelTransferOptions(parallelRead)
                                    .setOpenOptions(open),
                            null,
                            Context.NONE)
                    .getValue()
                    .getBlobSize();
        }
        double seconds = (System.nanoTime() - started) / 1e9;
        System.out.printf("sdk-%s: %d %.3f%n", args[0], bytes, seconds);
        System.exit(0); // the SDK's shared reactor threads would otherwise keep the VM alive a while
    }
}
