package com.kq.AzureLibrary;

import com.azure.core.util.Context;
import com.azure.storage.blob.models.AccessTier;
import com.azure.storage.blob.models.RehydratePriority;
import com.azure.storage.blob.options.BlobSetAccessTierOptions;
import com.kq.KQCloudPluginInterface.ERRORID;
import java.util.Locale;

/**
 * Bringing an archived object back to an online tier. The host reaches it through {@code SetObjectMetaData} with
 * the reserved property {@value #PROPERTY} and a value {@code Hot}, {@code Cool} or {@code Cold}, optionally
 * followed by {@code ,High} for high-priority rehydration. The call only asks: the service takes hours, and the
 * object answers READ_FAILED (archived) until it is done. On an object that is not archived it moves it to that tier.
 */
final class Rehydration {
    static final String PROPERTY = "kq.rehydrate";

    private Rehydration() {}

    static void request(StorageConnection c, String blob, String value) {
        if (value == null) {
            throw StorageFailure.of(ERRORID.INVALID_ARGUMENT);
        }
        String[] parts = value.split(",", -1);
        AccessTier tier = StorageConfig.tierOf(parts[0].trim());
        boolean high =
                parts.length == 2 && parts[1].trim().toLowerCase(Locale.ROOT).equals("high");
        if (tier == null || tier.equals(AccessTier.ARCHIVE) || parts.length > 2 || (parts.length == 2 && !high)) {
            throw StorageFailure.of(ERRORID.INVALID_ARGUMENT);
        }
        c.blob(blob)
                .setAccessTierWithResponse(
                        new BlobSetAccessTierOptions(tier)
                                .setPriority(high ? RehydratePriority.HIGH : RehydratePriority.STANDARD),
                        null,
                        Context.NONE);
    }
}
