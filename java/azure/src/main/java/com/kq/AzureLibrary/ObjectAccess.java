package com.kq.AzureLibrary;

import java.util.function.Supplier;

/**
 * What the reads and the writes of objects share: the session table, and the clients, asked for at each use so
 * that a call after AzureDeInit answers NOT_INITIALIZED at the same point as any other.
 */
abstract class ObjectAccess {
    final SessionTable sessions;
    private final Supplier<StorageConnection> connection;
    private final Supplier<DataPath> data;

    ObjectAccess(SessionTable sessions, Supplier<StorageConnection> connection, Supplier<DataPath> data) {
        this.sessions = sessions;
        this.connection = connection;
        this.data = data;
    }

    final Session sessionOf(String text) {
        return sessions.sessionOf(text);
    }

    final String objectName(String text) {
        return sessions.objectName(text);
    }

    final StorageConnection conn() {
        return connection.get();
    }

    final DataPath dataPath() {
        return data.get();
    }
}
