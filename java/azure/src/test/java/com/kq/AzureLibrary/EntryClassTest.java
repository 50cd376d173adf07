package com.kq.AzureLibrary;

import static org.junit.jupiter.api.Assertions.*;

import java.io.File;
import java.io.IOException;
import java.lang.reflect.Method;
import java.nio.ByteBuffer;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Collections;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import java.util.concurrent.TimeUnit;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/**
 * The entry class where the library cannot run: it must load, answer every call with NOT_SUPPORTED and say why,
 * instead of failing the host's lookup. A child VM whose class path lacks the dependency jars is such a case for
 * real; a VM older than Java 8 is told by its version.
 */
class EntryClassTest {
    private static final Path CLASSES = Paths.get("target", "classes").toAbsolutePath();

    @ParameterizedTest
    @CsvSource({"1.8, 8", "11, 11", "17, 17", "25, 25", "'', 0", "x, 0", "1.7.0, 7"})
    void featureReleaseOfTheSpecificationVersion(String text, int feature) {
        assertEquals(feature, KQAzurePlugInLibrary.featureOf(text));
        String reason = KQAzurePlugInLibrary.unsupportedReason(text);
        assertEquals(feature < 8, reason != null, text);
        if (reason != null) {
            assertTrue(reason.contains("the library needs Java 8 or later"), reason);
        }
    }

    /** Every class of the library, its model classes included, loads on Java 8 (class file 52). */
    @Test
    void everyClassIsBuiltForJava8() throws IOException {
        Map<String, Integer> versions = new TreeMap<>();
        try (Stream<Path> classes = Files.walk(CLASSES)) {
            for (Path p : classes.filter(c -> c.toString().endsWith(".class")).collect(Collectors.toList())) {
                ByteBuffer header = ByteBuffer.wrap(Files.readAllBytes(p)); // magic, minor, major version
                assertEquals(0xCAFEBABE, header.getInt(), p.toString());
                versions.put(CLASSES.relativize(p).toString(), (int) header.getShort(6));
            }
        }
        assertTrue(versions.containsKey("com/kq/AzureLibrary/AzureStorageLibrary.class"), "the library compiled");
        assertTrue(versions.containsKey("com/kq/KQCloudPluginInterface/CErrorValue.class"), "the model compiled");
        versions.values().removeIf(v -> v == 52);
        assertEquals(Collections.emptyMap(), versions, "classes not built for Java 8");
    }

    /**
     * Runs every public method of the entry class in a child VM of this runtime whose class path lacks the
     * dependency jars: each answers NOT_SUPPORTED and one line names the class that is missing. (With the jars
     * the library itself answers: AccountAndErrorTest calls every method on an uninitialised one.)
     */
    @Test
    void everyCallWhereTheLibraryCannotRun() throws Exception {
        String classPath = CLASSES
                + File.pathSeparator
                + Paths.get("target", "test-classes").toAbsolutePath();
        String java = Paths.get(System.getProperty("java.home"), "bin", "java").toString();
        Process child = new ProcessBuilder(java, "-cp", classPath, Probe.class.getName()).start();
        String out = new String(child.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        String err = new String(child.getErrorStream().readAllBytes(), StandardCharsets.UTF_8);
        assertTrue(child.waitFor(60, TimeUnit.SECONDS), "the probe ended");
        assertEquals(0, child.exitValue(), out + err);

        List<String> answers = out.lines().collect(Collectors.toList());
        assertEquals(publicMethods().size(), answers.size(), out);
        for (String answer : answers) {
            assertTrue(answer.endsWith(answer.startsWith("GetObjectActualSize ") ? " 77" : " NOT_SUPPORTED"), answer);
        }
        List<String> said =
                err.lines().filter(l -> l.contains("KQ Azure library")).collect(Collectors.toList());
        assertEquals(1, said.size(), err);
        assertTrue(said.get(0).contains("could not be loaded (java.lang.ClassNotFoundException: com.azure."), err);
    }

    static List<Method> publicMethods() {
        return Stream.of(KQAzurePlugInLibrary.class.getMethods())
                .filter(m -> m.getDeclaringClass() == KQAzurePlugInLibrary.class)
                .collect(Collectors.toList());
    }

    /** The child: calls every method with zeros, nulls and empty values, and prints "name answer" per call. */
    public static final class Probe {
        public static void main(String[] args) {
            KQAzurePlugInLibrary lib = new KQAzurePlugInLibrary("");
            for (Method m : publicMethods()) {
                Object[] values = Stream.of(m.getParameterTypes())
                        .map(t -> t == long.class ? (Object) 77L : t == int.class ? (Object) 0 : null)
                        .toArray();
                String answer;
                try {
                    Object result = m.invoke(lib, values);
                    answer = result instanceof Long
                            ? result.toString()
                            : TestSupport.errorOf(result).getErrorID().name();
                } catch (Throwable t) {
                    answer = "threw";
                }
                System.out.println(m.getName() + " " + answer);
            }
        }
    }
}
