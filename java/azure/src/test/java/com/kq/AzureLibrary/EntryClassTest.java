package com.kq.AzureLibrary;

import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

import java.io.DataInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.lang.reflect.Method;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import java.util.concurrent.TimeUnit;
import java.util.stream.Collectors;
import java.util.stream.Stream;

import static org.junit.jupiter.api.Assertions.*;

/**
 * The entry class on a VM that cannot run the library: it must load, answer every call with NOT_SUPPORTED and say
 * why, instead of failing the host's lookup. A child VM with the HTTP client module left out is such a VM for real
 * (as Java 8 is); so is any VM older than Java 12, which the test command runs this class on as well.
 */
class EntryClassTest {
    private static final Path CLASSES = Paths.get("target", "classes").toAbsolutePath();
    private static final int RUNNING = KQAzurePlugInLibrary.featureOf(System.getProperty("java.specification.version"));

    @ParameterizedTest
    @CsvSource({"1.8, 8", "11, 11", "17, 17", "25, 25", "'', 0", "x, 0", "1.7.0, 7"})
    void featureReleaseOfTheSpecificationVersion(String text, int feature) {
        assertEquals(feature, KQAzurePlugInLibrary.featureOf(text));
    }

    /** What the plug-in looks up loads on Java 8 (class file 52); the library itself needs 11 (55). */
    @Test
    void classFileVersions() throws IOException {
        Path model = Paths.get(System.getProperty("kq.repoRoot", "../.."), "java", "model", "src", "main", "java");
        List<String> anyVm = new ArrayList<>(List.of("com/kq/AzureLibrary/KQAzurePlugInLibrary.class",
                "com/kq/AzureLibrary/StorageLibrary.class"));
        try (Stream<Path> sources = Files.walk(model)) {
            sources.filter(p -> p.toString().endsWith(".java"))
                    .forEach(p -> anyVm.add(model.relativize(p).toString().replace('\\', '/')
                            .replace(".java", ".class")));
        }
        Map<String, Integer> versions = new TreeMap<>();
        try (Stream<Path> classes = Files.walk(CLASSES)) {
            for (Path p : classes.filter(c -> c.toString().endsWith(".class")).collect(Collectors.toList())) {
                String name = CLASSES.relativize(p).toString().replace('\\', '/');
                boolean nested = name.contains("$") && anyVm.contains(name.replaceAll("\\$.*", ".class"));
                versions.put(name, anyVm.contains(name) || nested ? 52 : 55);
            }
        }
        assertTrue(versions.keySet().containsAll(anyVm), "every model class compiled: " + anyVm);
        assertTrue(versions.containsValue(55), "the library compiled");
        versions.forEach((name, expected) -> assertEquals(expected, major(CLASSES.resolve(name)), name));
    }

    /**
     * Runs every public method of the entry class in a child VM of this runtime. With java.net.http left out, or
     * on a VM older than the library's, each answers NOT_SUPPORTED and one line names both versions; otherwise
     * the library itself is reached.
     */
    @ParameterizedTest
    @CsvSource({"true", "false"})
    void everyCallOnAVmThatCannotRunTheLibrary(boolean withoutHttpClient) throws Exception {
        boolean refused = withoutHttpClient || RUNNING < KQAzurePlugInLibrary.REQUIRED_JAVA;
        List<String> command = new ArrayList<>(List.of(
                Paths.get(System.getProperty("java.home"), "bin", "java").toString()));
        if (withoutHttpClient) {
            command.addAll(List.of("--limit-modules", "java.base,java.logging"));
        }
        command.addAll(List.of("-cp", System.getProperty("java.class.path"), Probe.class.getName()));
        Process child = new ProcessBuilder(command).start();
        String out = text(child.getInputStream());
        String err = text(child.getErrorStream());
        assertTrue(child.waitFor(60, TimeUnit.SECONDS), "the probe ended");
        assertEquals(0, child.exitValue(), out + err);

        List<String> answers = out.lines().collect(Collectors.toList());
        assertEquals(publicMethods().size(), answers.size(), out);
        for (String answer : answers) {
            if (answer.startsWith("GetObjectActualSize ")) {
                assertTrue(answer.endsWith(" 77"), answer);
            } else if (refused) {
                assertTrue(answer.endsWith(" NOT_SUPPORTED"), answer);
            } else {
                assertFalse(answer.endsWith(" threw"), answer);
            }
        }
        // The library itself answers a call before AzureInit with NOT_INITIALIZED.
        assertEquals(refused, !answers.contains("CheckConnectivity NOT_INITIALIZED"), out);
        List<String> said = err.lines().filter(l -> l.contains("KQ Azure library")).collect(Collectors.toList());
        if (refused) {
            assertEquals(1, said.size(), err);
            assertTrue(said.get(0).contains("Java " + System.getProperty("java.version") + " is running"), err);
            assertTrue(said.get(0).contains("Java 12 or later"), err);
            assertEquals(withoutHttpClient, said.get(0).contains("java.net.http"), err);
        } else {
            assertEquals(List.of(), said);
        }
    }

    static List<Method> publicMethods() {
        return Stream.of(KQAzurePlugInLibrary.class.getMethods())
                .filter(m -> m.getDeclaringClass() == KQAzurePlugInLibrary.class).collect(Collectors.toList());
    }

    /** The child: calls every method with zeros, nulls and empty values, and prints "name answer" per call. */
    public static final class Probe {
        public static void main(String[] args) {
            KQAzurePlugInLibrary lib = new KQAzurePlugInLibrary("");
            for (Method m : publicMethods()) {
                Object[] values = Stream.of(m.getParameterTypes())
                        .map(t -> t == long.class ? (Object) 77L : t == int.class ? (Object) 0 : null).toArray();
                String answer;
                try {
                    Object result = m.invoke(lib, values);
                    answer = result instanceof Long ? result.toString()
                            : TestSupport.errorOf(result).getErrorID().name();
                } catch (Throwable t) {
                    answer = "threw";
                }
                System.out.println(m.getName() + " " + answer);
            }
        }
    }

    private static int major(Path classFile) {
        try (DataInputStream in = new DataInputStream(Files.newInputStream(classFile))) {
            assertEquals(0xCAFEBABE, in.readInt(), classFile.toString());
            in.readUnsignedShort();
            return in.readUnsignedShort();
        } catch (IOException e) {
            throw new AssertionError(classFile.toString(), e);
        }
    }

    private static String text(InputStream in) throws IOException {
        return new String(in.readAllBytes(), StandardCharsets.UTF_8);
    }
}
