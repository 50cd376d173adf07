package com.kq.AzureLibrary;

/** What a handle stands for while it is open: a write session or a read session on one blob. */
sealed interface Session permits WriteSession, ReadSession {
    String handle();

    /** The blob the session reads, or the blob it will commit. */
    String blobName();
}
