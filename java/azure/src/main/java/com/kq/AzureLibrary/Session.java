package com.kq.AzureLibrary;

/** What a handle stands for while it is open: a write session or a read session on one blob. */
/* Implemented by WriteSession and ReadSession only. */
interface Session {
    String handle();

    /** The blob the session reads, or the blob it will commit. */
    String blobName();
}
