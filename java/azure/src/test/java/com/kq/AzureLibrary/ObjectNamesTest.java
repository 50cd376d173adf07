package com.kq.AzureLibrary;

import static com.kq.AzureLibrary.TestSupport.answer;
import static com.kq.KQCloudPluginInterface.ERRORID.*;
import static org.junit.jupiter.api.Assertions.*;

import java.util.stream.Stream;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/** Which names are usable, decided before any request. No emulator. */
class ObjectNamesTest {
    static Stream<Arguments> paths() {
        String pair = "\uD83D\uDE00";
        return Stream.of(
                Arguments.of("a", 0, true),
                Arguments.of("", 0, false),
                Arguments.of("", 5, true),
                Arguments.of("dir/", 0, false),
                Arguments.of("dir/", 1, true),
                Arguments.of("v1.", 0, false),
                Arguments.of("v1.0/x", 0, true),
                Arguments.of(" spaced ", 0, true),
                Arguments.of("ünï/" + pair, 0, true),
                Arguments.of("n".repeat(1024), 0, true),
                Arguments.of("n".repeat(1025), 0, false),
                Arguments.of("set1/deep/", 1014, true),
                Arguments.of("set1/deep/", 1015, false),
                Arguments.of(pair.repeat(512), 0, true),
                Arguments.of(pair.repeat(512), 1, false),
                Arguments.of("a/".repeat(253) + "b", 0, true),
                Arguments.of("a/".repeat(254) + "b", 0, false),
                Arguments.of("bad\u0001", 0, false),
                Arguments.of("tab\tx", 0, false),
                Arguments.of("del\u007f", 0, false),
                Arguments.of("back\\slash", 0, false),
                Arguments.of("lone\uD83D", 0, false),
                Arguments.of("lone\uD83Dx", 0, false),
                Arguments.of("\uDE00low", 0, false),
                // What a listing's XML cannot hold is refused; other noncharacters and C1 controls list back exactly.
                Arguments.of("bad\uFFFFname", 0, false),
                Arguments.of("bad\uFFFE", 0, false),
                Arguments.of("ok\uFDD0\uFDEF\uFFFD\uFEFF\u0085", 0, true),
                Arguments.of("ok\uD83F\uDFFE\uDBFF\uDFFF", 0, true),
                // Dot segments an HTTP client may resolve away; dots inside a segment are names like any other.
                Arguments.of("a/./b", 0, false),
                Arguments.of("a/../b", 0, false),
                Arguments.of("../b", 0, false),
                Arguments.of("./", 5, false),
                Arguments.of("a/.", 1, true),
                Arguments.of("a/.../b", 0, true),
                Arguments.of(".hidden/..x", 0, true),
                Arguments.of(HandleTokens.PREFIX + "0".repeat(32), 0, true));
    }

    @ParameterizedTest(name = "[{index}] +{1}: {2}")
    @MethodSource("paths")
    void namesAcceptedAndRefused(String path, int extra, boolean supported) {
        assertEquals(supported, ObjectNames.isSupportedName(path, extra));
        if (extra == 0) {
            assertEquals(supported ? path : INVALID_NAME, answer(() -> ObjectNames.plainName(path)));
        }
    }

    static Stream<Arguments> keys() {
        return Stream.of(
                Arguments.of("s", "a", "s/a"),
                Arguments.of("s/", "/a", "s/a"),
                Arguments.of("\\s\\", "d\\f", "s/d/f"),
                Arguments.of("", "a", "a"),
                Arguments.of("//", "//a", "a"),
                Arguments.of("s", "a/", INVALID_NAME),
                Arguments.of("s", "a\\", INVALID_NAME),
                Arguments.of("s", "", INVALID_NAME),
                Arguments.of("s", "x".repeat(1023), INVALID_NAME),
                Arguments.of(null, "a", INVALID_ARGUMENT),
                Arguments.of("s", null, INVALID_ARGUMENT));
    }

    @ParameterizedTest(name = "[{index}] {0} + {1}")
    @MethodSource("keys")
    void storageKeys(String set, String name, Object expected) {
        assertEquals(expected, answer(() -> ObjectNames.storageKey(set, name)));
    }
}
