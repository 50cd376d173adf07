package com.kq.AzureLibrary;

import static com.kq.AzureLibrary.StorageConfig.DEV_ACCOUNT;
import static com.kq.AzureLibrary.StorageConfig.DEV_KEY;
import static com.kq.AzureLibrary.TestSupport.answer;
import static com.kq.KQCloudPluginInterface.ERRORID.*;
import static org.junit.jupiter.api.Assertions.*;

import java.util.stream.Stream;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/** Whether two account designations mean one account. No emulator: nothing here sends a request. */
class AccountQueriesTest {
    private static final String URL = "http://127.0.0.1:10000/" + DEV_ACCOUNT;
    private static final String DEV = "AccountName=" + DEV_ACCOUNT + ";AccountKey=" + DEV_KEY + ";BlobEndpoint=" + URL;
    private static final StorageConnection CONNECTION = StorageConnection.open(StorageConfig.parse(DEV));
    private static final String AZURE = "https://acct.blob.core.windows.net";

    @AfterAll
    static void close() {
        CONNECTION.close();
    }

    static Stream<Arguments> pairs() {
        return Stream.of(
                Arguments.of("", URL, true),
                Arguments.of(URL + "/", "DEVSTOREACCOUNT1", true),
                Arguments.of("", "otheraccount", false),
                Arguments.of(DEV, " ", true),
                Arguments.of("http://127.0.0.1:1/" + DEV_ACCOUNT, URL, false), // same name, other endpoint
                Arguments.of("http://localhost:10000/acct/", "ACCT", true),
                Arguments.of("http://[::1]/acct", "acct", true),
                Arguments.of(AZURE + "//", "HTTPS://ACCT.blob.core.windows.net", true),
                Arguments.of(AZURE, "acct", true),
                Arguments.of(AZURE, "https://acct.blob.core.chinacloudapi.cn", false),
                Arguments.of("AccountName=acct;AccountKey=" + DEV_KEY, AZURE, true),
                Arguments.of("AccountName=a;x", "", INVALID_CONNECTION_STRING),
                Arguments.of("http://bad host/acct", "acct", INVALID_ARGUMENT),
                Arguments.of(null, "", INVALID_ARGUMENT));
    }

    @ParameterizedTest(name = "[{index}] {0} / {1}")
    @MethodSource("pairs")
    void sameAccount(String first, String second, Object expected) {
        assertEquals(expected, answer(() -> AccountQueries.isSameAccount(CONNECTION, first, second)));
        if (expected instanceof Boolean) {
            assertEquals(expected, AccountQueries.isSameAccount(CONNECTION, second, first), "either order");
        }
    }
}
