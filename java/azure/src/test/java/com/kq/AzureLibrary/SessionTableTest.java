package com.kq.AzureLibrary;

import static com.kq.AzureLibrary.TestSupport.answer;
import static com.kq.AzureLibrary.TestSupport.eightAtOnce;
import static com.kq.KQCloudPluginInterface.ERRORID.*;
import static org.junit.jupiter.api.Assertions.*;

import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.Test;

/** Handles, names and their sessions, under contention. No emulator: the sessions never send anything. */
class SessionTableTest {
    private static final StorageConnection CONNECTION =
            StorageConnection.open(StorageConfig.parse("UseDevelopmentStorage=true"));
    private static final DataPath DATA = new DataPath(CONNECTION);

    @AfterAll
    static void close() {
        DATA.close();
        CONNECTION.close();
    }

    /** Each test's own table, of a library always initialised. */
    private final SessionTable table = new SessionTable(() -> {});

    private static WriteSession writer(String name) {
        return new WriteSession(HandleTokens.newHandle(), name, DATA, 1024);
    }

    private static ReadSession reader(String name) {
        return new ReadSession(HandleTokens.newHandle(), name, CONNECTION, 10, "etag", Map.of());
    }

    @Test
    void racingWritersOfOneNameGetOneSessionAndRacingClosesOneSession() throws Exception {
        List<Object> opened = eightAtOnce(t -> table.addWriter(writer("race")));
        List<Object> won = new ArrayList<>(opened);
        won.removeIf(o -> o == HANDLE_IN_USE);
        assertEquals(1, won.size(), opened::toString);
        String handle = ((WriteSession) won.get(0)).handle();
        List<Object> taken = eightAtOnce(t -> table.take(handle));
        assertEquals(7, taken.stream().filter(o -> o == INVALID_HANDLE).count(), taken::toString);
        assertNotNull(table.addWriter(writer("race")), "the name is free once its session is taken");
    }

    @Test
    void whatAStringMeans() {
        WriteSession w = table.addWriter(writer("w/obj"));
        ReadSession r = reader("r/obj");
        table.addReader(r);
        String closed = table.addWriter(writer("gone")).handle();
        table.take(closed);
        String neverIssued = HandleTokens.newHandle();
        Object[][] rows = { // string, sessionOf, objectName
            {w.handle(), w, "w/obj"}, {r.handle(), r, "r/obj"}, {closed, INVALID_HANDLE, INVALID_HANDLE},
            {"plain/name", null, "plain/name"}, {neverIssued, null, neverIssued}, {"bad\\", null, INVALID_NAME},
            {null, null, INVALID_ARGUMENT}
        };
        for (Object[] row : rows) {
            String text = (String) row[0];
            if (text != null) {
                assertEquals(row[1], answer(() -> table.sessionOf(text)), text);
            }
            assertEquals(row[2], answer(() -> table.objectName(text)), text);
        }
        assertEquals(INVALID_HANDLE, answer(() -> SessionTable.writeSession(r)), "a read session is not written");
        assertEquals(INVALID_HANDLE, answer(() -> table.take(closed)));
        assertEquals(w, table.writerOf("w/obj"));

        SessionTable uninitialised = new SessionTable(() -> {
            throw StorageFailure.of(NOT_INITIALIZED);
        });
        assertEquals(NOT_INITIALIZED, answer(() -> uninitialised.sessionOf(closed)));
        assertEquals(NOT_INITIALIZED, answer(() -> uninitialised.take(null)), "before the argument is looked at");
    }

    @Test
    void discardingEndsSessionsForGood() {
        WriteSession cached = table.addWriter(writer("cached"));
        table.discardWriter("cached");
        assertEquals(OBJECT_NOT_FOUND, answer(() -> table.discardWriter("cached")));
        assertEquals(INVALID_HANDLE, answer(() -> table.sessionOf(cached.handle())));
        assertEquals(CANCELLED, answer(() -> cached.append(new byte[1], 1)), "its data is dropped, not kept");

        List<WriteSession> writers = List.of(table.addWriter(writer("a")), table.addWriter(writer("b")));
        ReadSession r = reader("a");
        table.addReader(r);
        table.discard(table.detachAll());
        assertEquals(0, table.size());
        for (Session s : List.of(writers.get(0), writers.get(1), r)) {
            assertEquals(INVALID_HANDLE, answer(() -> table.sessionOf(s.handle())), s.blobName());
        }
        assertNull(table.writerOf("a"));
        assertEquals(CANCELLED, answer(() -> writers.get(1).commit(null)), "nothing of a dropped session is committed");

        // A read still running on a session that has ended gets no read-ahead: it would hold pool memory for ever.
        assertEquals(CANCELLED, answer(() -> table.readAhead(r, DATA)), "after the discard");
        ReadSession closing = reader("c");
        table.addReader(closing);
        table.take(closing.handle());
        assertEquals(CANCELLED, answer(() -> table.readAhead(closing, DATA)), "after the close");
    }
}
