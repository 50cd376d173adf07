import com.azure.core.util.BinaryData;
import com.azure.storage.blob.BlobClient;
import com.azure.storage.blob.BlobContainerClient;
import com.azure.storage.blob.BlobServiceClientBuilder;
import com.azure.storage.blob.models.ListBlobsOptions;
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
        container.createIfNotExists();
        switch (args[0]) {
            case "put" -> {
                Map<String, String> metadata = new HashMap<>();
                for (int i = 3; i < args.length; i++) {
                    String[] kv = args[i].split("=", 2);
                    metadata.put(kv[0], kv[1]);
                }
                BlobClient blob = container.getBlobClient(args[2]);
                blob.upload(BinaryData.fromString("foreign\n"), true);
                blob.setMetadata(metadata);
            }
            case "page" -> container.getBlobClient(args[2]).getPageBlobClient().create(512);
            case "etags" ->
                container
                        .listBlobs(new ListBlobsOptions().setPrefix(args[2]), null)
                        .forEach(item -> System.out.println(
                                item.getName() + " " + item.getProperties().getETag()));
            default -> throw new IllegalArgumentException("unknown command " + args[0] + " (put, page or etags)");
        }
    }
}
