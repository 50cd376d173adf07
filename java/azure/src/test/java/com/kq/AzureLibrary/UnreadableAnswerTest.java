package com.kq.AzureLibrary;

import static com.kq.AzureLibrary.TestSupport.*;
import static com.kq.KQCloudPluginInterface.ERRORID.FAILURE;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.io.IOException;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

/**
 * Another server behind the endpoint (a port taken by something else, a proxy's page) answers 200 with a body
 * that is no listing: the SDK fails decoding it, and the answer is FAILURE, not INTERNAL_ERROR.
 */
class UnreadableAnswerTest {
    @BeforeAll
    static void needsTheJdkServer() {
        assumeTrue(ModuleLayer.boot().findModule("jdk.httpserver").isPresent(), "no jdk.httpserver in this runtime");
    }

    @ParameterizedTest(name = "body \"{0}\"")
    @ValueSource(
            strings = {"", "<a/>", "not a document", "<EnumerationResults><Blobs><Blob/></Blobs></EnumerationResults>"})
    void anAnswerThatIsNoListingIsAFailure(String body) throws IOException {
        try (BodyServer server = new BodyServer(body)) {
            String config = new Azurite(server.port(), false).connectionString() + "MaxTries=1"; // not Azurite's
            withLibrary(config, odd -> expect(FAILURE, odd.GetObjectSubList("t/").errorValue));
        }
    }
}
