import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.util.Enumeration;
import java.util.Locale;
import java.util.jar.JarEntry;
import java.util.jar.JarFile;
import java.util.jar.JarOutputStream;
import java.util.jar.Manifest;
import java.util.zip.ZipEntry;

/**
 * A packaging step: rewrites every signed jar of the library's folder without its signature.
 *
 * <p>A VM checks each class of a signed jar against the signature as it loads it, and leaves classes of signed jars
 * out of a class-data archive. The Azure SDK's jars are signed, and both together cost about 0.2 s of every start
 * of the host's VM. Maven checked each jar's checksum when it fetched it. The manifest keeps its main attributes and
 * drops the per-entry digests, which belong to the signature.
 *
 * <pre>java UnsignJars.java DIR</pre>
 */
public final class UnsignJars {
    private UnsignJars() {}

    public static void main(String[] args) throws IOException {
        if (args.length != 1) {
            throw new IllegalArgumentException("usage: java UnsignJars.java DIR");
        }
        try (DirectoryStream<Path> jars = Files.newDirectoryStream(Paths.get(args[0]), "*.jar")) {
            for (Path jar : jars) {
                if (isSigned(jar)) {
                    unsign(jar);
                }
            }
        }
    }

    /** A signature file: META-INF/*.SF, *.RSA, *.DSA, *.EC or SIG-*, directly in META-INF. */
    static boolean isSignatureFile(String name) {
        if (!name.startsWith("META-INF/") || name.indexOf('/', "META-INF/".length()) >= 0) {
            return false;
        }
        String upper = name.toUpperCase(Locale.ROOT);
        return upper.endsWith(".SF")
                || upper.endsWith(".RSA")
                || upper.endsWith(".DSA")
                || upper.endsWith(".EC")
                || upper.startsWith("META-INF/SIG-");
    }

    private static boolean isSigned(Path jar) throws IOException {
        try (JarFile in = new JarFile(jar.toFile(), false)) {
            for (Enumeration<JarEntry> e = in.entries(); e.hasMoreElements(); ) {
                if (isSignatureFile(e.nextElement().getName())) {
                    return true;
                }
            }
        }
        return false;
    }

    private static void unsign(Path jar) throws IOException {
        Path part = jar.resolveSibling(jar.getFileName() + ".part");
        try (JarFile in = new JarFile(jar.toFile(), false)) {
            Manifest manifest = new Manifest();
            if (in.getManifest() != null) {
                manifest.getMainAttributes().putAll(in.getManifest().getMainAttributes());
            }
            try (OutputStream file = Files.newOutputStream(part);
                    JarOutputStream out = new JarOutputStream(file, manifest)) {
                for (Enumeration<JarEntry> e = in.entries(); e.hasMoreElements(); ) {
                    JarEntry entry = e.nextElement();
                    String name = entry.getName();
                    if (isSignatureFile(name) || name.equalsIgnoreCase(JarFile.MANIFEST_NAME)) {
                        continue;
                    }
                    ZipEntry copy = new ZipEntry(name);
                    copy.setTime(entry.getTime());
                    out.putNextEntry(copy);
                    try (InputStream data = in.getInputStream(entry)) {
                        byte[] buffer = new byte[1 << 16];
                        for (int n; (n = data.read(buffer)) > 0; ) {
                            out.write(buffer, 0, n);
                        }
                    }
                    out.closeEntry();
                }
            }
        } catch (IOException | RuntimeException e) {
            Files.deleteIfExists(part);
            throw e;
        }
        Files.move(part, jar, StandardCopyOption.REPLACE_EXISTING);
    }
}
