package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.ERRORID;

/**
 * A failure the library has already classified: bad input, a bad handle, or a service answer translated to its
 * {@link ERRORID}. Thrown inside the library only; every public method turns it into its result's error value.
 * Carries no message, so nothing secret can travel with it.
 */
final class StorageFailure extends RuntimeException {
    private static final long serialVersionUID = 1L;

    final transient ERRORID id;

    StorageFailure(ERRORID id) {
        super(id.name(), null, false, false);
        this.id = id;
    }

    static StorageFailure of(ERRORID id) {
        return new StorageFailure(id);
    }
}
