package com.kq.AzureLibrary;

import com.kq.KQCloudPluginInterface.ERRORID;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.ConcurrentHashMap;

/**
 * The open sessions of one library, by handle, and what goes with them: at most one write session per object name
 * (two writers of one object would race at the commit), the handles closed lately (so that one used again answers
 * INVALID_HANDLE instead of turning into an object name) and the read-ahead of each read session that has read.
 * Safe for any number of threads.
 */
final class SessionTable {
    private final ConcurrentHashMap<String, Session> sessions = new ConcurrentHashMap<>();
    private final ConcurrentHashMap<String, WriteSession> writers = new ConcurrentHashMap<>();
    private final ConcurrentHashMap<String, ReadAhead> readers = new ConcurrentHashMap<>();
    private final HandleTokens retired = new HandleTokens();
    /** Throws NOT_INITIALIZED while the library has no clients: no string is a handle then. */
    private final Runnable requireInitialised;

    SessionTable(Runnable requireInitialised) {
        this.requireInitialised = requireInitialised;
    }

    /**
     * The open session a handle names; null for any other string (an object name, whatever it looks like);
     * INVALID_HANDLE for a handle closed lately. A name equal to a live handle means that handle.
     */
    Session sessionOf(String text) {
        requireInitialised.run();
        Session session = sessions.get(text);
        if (session == null && retired.isRetired(text)) {
            throw StorageFailure.of(ERRORID.INVALID_HANDLE);
        }
        return session;
    }

    /** The blob a string designates: an open session's object, or the string itself as a checked object name. */
    String objectName(String text) {
        Session session = sessionOf(ObjectNames.require(text));
        return session != null ? session.blobName() : ObjectNames.plainName(text);
    }

    /** The session as a write session; a read session (or none) is INVALID_HANDLE. */
    static WriteSession writeSession(Session session) {
        if (session instanceof WriteSession) {
            return (WriteSession) session;
        }
        throw StorageFailure.of(ERRORID.INVALID_HANDLE);
    }

    /** The open write session of an object name, or null. */
    WriteSession writerOf(String blob) {
        return writers.get(blob);
    }

    /** Makes a new write session visible; HANDLE_IN_USE while the name has another. */
    WriteSession addWriter(WriteSession session) {
        if (writers.putIfAbsent(session.blobName(), session) != null) {
            throw StorageFailure.of(ERRORID.HANDLE_IN_USE);
        }
        sessions.put(session.handle(), session);
        return session;
    }

    void addReader(ReadSession session) {
        sessions.put(session.handle(), session);
    }

    /** Puts a read session's newer state in place, unless the session has ended meanwhile. */
    void replaceReader(ReadSession current, ReadSession next) {
        sessions.replace(current.handle(), current, next);
    }

    /**
     * Ends a handle's session and answers it: its handle is retired, its read-ahead closed, a write session's
     * name freed. Exactly one caller gets a given session; the others get INVALID_HANDLE.
     */
    Session take(String handle) {
        requireInitialised.run();
        Session session = sessions.remove(ObjectNames.require(handle));
        if (session == null) {
            throw StorageFailure.of(ERRORID.INVALID_HANDLE);
        }
        retired.retire(handle);
        closeReadAhead(handle);
        if (session instanceof WriteSession) {
            writers.remove(session.blobName(), session);
        }
        return session;
    }

    /** Discards the open write session of a name, uncommitted data and all; OBJECT_NOT_FOUND when it has none. */
    void discardWriter(String blob) {
        WriteSession ws = writers.remove(blob);
        if (ws == null) {
            throw StorageFailure.of(ERRORID.OBJECT_NOT_FOUND);
        }
        sessions.remove(ws.handle(), ws);
        retired.retire(ws.handle());
        ws.abort();
    }

    /**
     * The read-ahead of a read session, made at its first read; CANCELLED when the session has ended meanwhile.
     * Whoever ends a session removes it from the table before its read-ahead, so a read-ahead made after that
     * removal is seen here and closed, and one made before it is seen by the one ending the session.
     */
    ReadAhead readAhead(ReadSession rs, DataPath d) {
        ReadAhead ra = readers.computeIfAbsent(
                rs.handle(), h -> new ReadAhead(d, rs.blobName(), rs.length(), rs.eTag(), d.readAhead));
        if (!sessions.containsKey(rs.handle())) {
            closeReadAhead(rs.handle());
            throw StorageFailure.of(ERRORID.CANCELLED);
        }
        return ra;
    }

    private void closeReadAhead(String handle) {
        ReadAhead ra = readers.remove(handle);
        if (ra != null) {
            ra.close();
        }
    }

    /**
     * Empties the table at once, so that no session outlives the clients it was made with; the caller runs this
     * under the lock that swaps the clients and then hands the result to {@link #discard}.
     */
    List<Session> detachAll() {
        List<Session> dropped = new ArrayList<>(sessions.values());
        sessions.clear();
        writers.clear();
        return dropped;
    }

    /** Ends what {@link #detachAll} took: read-aheads closed, handles retired, uncommitted uploads cancelled. */
    void discard(List<Session> dropped) {
        // Each removed by its key: a clear() would also drop, unclosed, one made while this loop ran.
        for (String handle : readers.keySet()) {
            closeReadAhead(handle);
        }
        for (Session s : dropped) {
            retired.retire(s.handle());
            if (s instanceof WriteSession) {
                ((WriteSession) s).abort();
            }
        }
    }

    int size() {
        return sessions.size();
    }
}
