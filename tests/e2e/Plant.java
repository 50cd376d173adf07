import com.azure.core.util.BinaryData;
import com.azure.storage.blob.BlobContainerClient;
import com.azure.storage.blob.BlobServiceClientBuilder;
import com.azure.storage.blob.models.BlobItem;
import com.azure.storage.blob.models.ListBlobsOptions;
import com.azure.storage.blob.options.BlockBlobSimpleUploadOptions;
import java.util.HashMap;
import java.util.Map;

/**
 * Plays "another tool" for the end-to-end tests: writes objects with the plain Azure client, as a user's own
 * scripts or a hierarchical-namespace account would, and prints what the store holds.
 *
 * <pre>
 *   Plant put CONTAINER NAME [KEY=VALUE...]   a small block blob with exactly that metadata
 *   Plant page CONTAINER NAME                 an empty page blob of 512 bytes
 *   Plant etags CONTAINER PREFIX              "NAME ETAG" per object (an upload always changes the ETag)
 * </pre>
 * The connection string comes from AZURE_STORAGE_CONNECTION_STRING.
 */
public final class Plant {
    private Plant() {}

    public static void main(String[] args) {
        BlobContainerClient container = new BlobServiceClientBuilder()
                .connectionString(System.getenv("AZURE_STORAGE_CONNECTION_STRING"))
                .buildClient()
                .getBlobContainerClient(args[1]);
        if (args[0].equals("put")) {
            container.createIfNotExists();
            Map<String, String> metadata = new HashMap<>();
            for (int i = 3; i < args.length; i++) {
                String[] kv = args[i].split("=", 2);
                metadata.put(kv[0], kv[1]);
            }
            container
                    .getBlobClient(args[2])
                    .getBlockBlobClient()
                    .uploadWithResponse(
                            new BlockBlobSimpleUploadOptions(BinaryData.fromString("foreign\n")).setMetadata(metadata),
                            null,
                            null);
        } else if (args[0].equals("page")) {
            container.createIfNotExists();
            container.getBlobClient(args[2]).getPageBlobClient().create(512);
        } else if (args[0].equals("etags")) {
            for (BlobItem item : container.listBlobs(new ListBlobsOptions().setPrefix(args[2]), null)) {
                System.out.println(item.getName() + " " + item.getProperties().getETag());
            }
        } else {
            System.err.println(
                    "usage: Plant put CONTAINER NAME [KEY=VALUE...] | page CONTAINER NAME | etags CONTAINER PREFIX");
            System.exit(2);
        }
    }
}
