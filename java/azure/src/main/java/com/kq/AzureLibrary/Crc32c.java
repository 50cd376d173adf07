package com.kq.AzureLibrary;

import java.lang.reflect.Constructor;
import java.util.zip.Checksum;

/**
 * CRC-32C (Castagnoli, reflected polynomial 0x82F63B78), the sum block ids carry. Java 8 has no CRC32C class; this
 * one gives, bit for bit, the value of {@code java.util.zip.CRC32C} of Java 9 and later, so a block staged on one
 * VM is checked on whichever VM restores it.
 *
 * <p>Slicing-by-8: eight tables let the loop consume eight bytes per step with independent lookups, about
 * 1.2-1.4 GB/s on Java 17 here. From Java 9 on the JDK's class is used instead ({@link #create()}): the VM
 * computes it with the processor's CRC32C instruction, 20-26 GB/s on the same machine. Not thread-safe; one
 * instance per sum.
 */
final class Crc32c implements Checksum {
    private static final int POLY = 0x82F63B78;
    /** {@code T[k][b]}: the CRC of byte {@code b} followed by {@code k} zero bytes. */
    private static final int[][] T = new int[8][256];

    static {
        for (int b = 0; b < 256; b++) {
            int c = b;
            for (int i = 0; i < 8; i++) {
                c = (c >>> 1) ^ (POLY & -(c & 1));
            }
            T[0][b] = c;
        }
        for (int b = 0; b < 256; b++) {
            for (int k = 1; k < 8; k++) {
                T[k][b] = (T[k - 1][b] >>> 8) ^ T[0][T[k - 1][b] & 0xFF];
            }
        }
    }

    /** The JDK's CRC32C class (Java 9 and later), or null on Java 8. */
    private static final Constructor<?> JDK = jdkCrc32c();

    private static Constructor<?> jdkCrc32c() {
        try {
            return Class.forName("java.util.zip.CRC32C").getConstructor();
        } catch (ReflectiveOperationException | LinkageError e) {
            return null;
        }
    }

    /** A running CRC-32C: the JDK's where it has one, else this class. */
    static Checksum create() {
        if (JDK != null) {
            try {
                return (Checksum) JDK.newInstance();
            } catch (ReflectiveOperationException e) {
                // cannot happen for a public no-argument constructor; this class gives the same sums
            }
        }
        return new Crc32c();
    }

    /** The running remainder, inverted: the register as the algorithm defines it. */
    private int crc = 0xFFFFFFFF;

    @Override
    public void update(int b) {
        crc = (crc >>> 8) ^ T[0][(crc ^ b) & 0xFF];
    }

    @Override
    public void update(byte[] data, int off, int len) {
        if (off < 0 || len < 0 || off > data.length - len) {
            throw new ArrayIndexOutOfBoundsException("off " + off + ", len " + len + ", array " + data.length);
        }
        int c = crc;
        int end = off + len;
        int[] t0 = T[0], t1 = T[1], t2 = T[2], t3 = T[3], t4 = T[4], t5 = T[5], t6 = T[6], t7 = T[7];
        for (; off + 8 <= end; off += 8) {
            int lo = c
                    ^ ((data[off] & 0xFF)
                            | (data[off + 1] & 0xFF) << 8
                            | (data[off + 2] & 0xFF) << 16
                            | (data[off + 3] & 0xFF) << 24);
            c = t7[lo & 0xFF]
                    ^ t6[(lo >>> 8) & 0xFF]
                    ^ t5[(lo >>> 16) & 0xFF]
                    ^ t4[lo >>> 24]
                    ^ t3[data[off + 4] & 0xFF]
                    ^ t2[data[off + 5] & 0xFF]
                    ^ t1[data[off + 6] & 0xFF]
                    ^ t0[data[off + 7] & 0xFF];
        }
        for (; off < end; off++) {
            c = (c >>> 8) ^ t0[(c ^ data[off]) & 0xFF];
        }
        crc = c;
    }

    @Override
    public long getValue() {
        return ~crc & 0xFFFFFFFFL;
    }

    @Override
    public void reset() {
        crc = 0xFFFFFFFF;
    }

    /** The sum of {@code len} bytes of {@code data} from {@code off}. */
    static long of(byte[] data, int off, int len) {
        Checksum c = create();
        c.update(data, off, len);
        return c.getValue();
    }
}
