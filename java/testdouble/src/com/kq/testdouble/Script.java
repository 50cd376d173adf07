package com.kq.testdouble;

import com.kq.AzureLibrary.CObjectSubListElement;
import com.kq.AzureLibrary.CPluginMetaData;
import com.kq.AzureLibrary.CPluginValue;
import com.kq.AzureLibrary.KQAzureContainer;
import com.kq.KQCloudPluginInterface.CErrorValue;
import com.kq.KQCloudPluginInterface.ERRORID;
import java.lang.reflect.Field;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.function.Function;
import java.util.function.IntFunction;
import java.util.function.LongFunction;
import java.util.function.Supplier;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import java.util.zip.CRC32;

/**
 * The script of the test library: what each method of the scripted
 * {@code KQAzurePlugInLibrary} answers, and the journal of the calls it got.
 * Native tests drive it through JNI; everything is static and thread-safe.
 *
 * <h2>Keys</h2>
 * A method is named by its Java name, "/" and its number of parameters:
 * {@code "AzureInit/2"}, {@code "WriteObject/3"}, {@code "WriteObject/4"},
 * {@code "WriteObject/5"}, {@code "UpdateObject/5"}, {@code "UpdateObject/6"},
 * {@code "GetObjectMetaData/1"}, {@code "GetObjectMetaData/2"}. Where two
 * overloads have the same count the array form gets a plural name:
 * {@code "DeleteObjectByHandle/1"} is the one-handle form and
 * {@code "DeleteObjectByHandles/1"} the form taking a {@code String[]}. The
 * constructor is {@code "<init>/1"}.
 *
 * <h2>Answers</h2>
 * Unless scripted, a method answers success (ordinal 0) with a record of
 * fixed content (for example {@code objHandle} = "handle:" + name); each
 * method of the library says what. {@link #returns} replaces that answer (null
 * included) and {@link #throwsOn} makes the method throw a RuntimeException;
 * both hold until {@link #reset}. A scripted answer of the wrong class makes
 * the method throw a ClassCastException.
 *
 * <h2>Values</h2>
 * {@link #returnsValue}, {@link #build} and {@link #returnsBuilt} take values
 * as text, one form per prefix (the table {@code VALUES}; a new form is one
 * line there):
 * <ul>
 * <li>{@code null}</li>
 * <li>{@code ord:N}: a CErrorValue whose getOrdinalValue is N (outside the
 *     ERRORID range a subclass answers N, with FAILURE as identifier)</li>
 * <li>{@code noid:N}: a CErrorValue whose getErrorID is null, ordinal N</li>
 * <li>{@code s:TEXT}, {@code j:N} (long, signed or unsigned decimal),
 *     {@code i:N}, {@code z:true|false}</li>
 * <li>{@code sa:a|b|<null>}: String[]; {@code sa:} is the empty array,
 *     {@code <empty>} an empty string</li>
 * <li>{@code md:name=value|<null>|<nullname>=v|name=<null>|name=<noval>}:
 *     CPluginMetaData[] (a null element, a null name, a null value text, a
 *     null value object)</li>
 * <li>{@code ct:a|<null>|<nullname>}: KQAzureContainer[]</li>
 * <li>{@code sub:file{k=v;k2=v2}|<null>|<nullname>{}|file2<nometa>}:
 *     CObjectSubListElement[]; inside the braces the entries of {@code md:}
 *     separated by ";", {@code <nometa>} a null metaDat</li>
 * </ul>
 *
 * <h2>Journal</h2>
 * One entry per call, {@code Key(arg, arg, ...)}, made when the call
 * arrives: null as {@code null}, a String in double quotes, a long as
 * unsigned decimal, int and boolean as they are, a byte[] as
 * {@code bytes(len=N,crc=xxxxxxxx)} (CRC-32, eight lower-case hex digits), a
 * String[] as {@code ["a", null]}, a CPluginMetaData[] as
 * {@code {name=value, ...}} in array order.
 *
 * <h2>Reads</h2>
 * ReadObject, ReadObjectByHandle and ReadObjectByName fill the array with
 * byte i = (offset + i) &amp; 0xFF and report the count of
 * {@link #setReadCount}, by default the requested size capped at the array's
 * length. Only min(count, length) bytes are written.
 */
public final class Script {
    private static final Map<String, Object> ANSWERS = new HashMap<>();
    private static final Map<String, String> THROWS = new HashMap<>();
    private static final Map<String, Long> READ_COUNTS = new HashMap<>();
    private static final List<String> JOURNAL = new ArrayList<>();

    /** Value forms by prefix; see the class comment. */
    private static final Map<String, Function<String, Object>> VALUES = new LinkedHashMap<>();

    static {
        VALUES.put("ord:", text -> Errors.withOrdinal(Integer.parseInt(text)));
        VALUES.put("noid:", text -> new Errors.WithoutIdentifier(Integer.parseInt(text)));
        VALUES.put("s:", text -> text);
        VALUES.put("j:", Script::parseLong);
        VALUES.put("i:", Integer::valueOf);
        VALUES.put("z:", Script::parseBoolean);
        VALUES.put("sa:", text -> elements(text, "\\|", String[]::new, Script::text));
        VALUES.put("md:", text -> metaData(text, "\\|"));
        VALUES.put("ct:", text -> elements(text, "\\|", KQAzureContainer[]::new, Script::container));
        VALUES.put("sub:", text -> elements(text, "\\|", CObjectSubListElement[]::new, Script::subListElement));
    }

    private static final String[] RECORD_PACKAGES = {
        "com.kq.AzureLibrary.", "com.kq.plugin.model.", "com.kq.KQCloudPluginInterface.",
    };

    private Script() {}

    // ---- scripting (called by the tests) ----

    /** Forgets every answer, throw, read setting and the journal. */
    public static synchronized void reset() {
        ANSWERS.clear();
        THROWS.clear();
        READ_COUNTS.clear();
        JOURNAL.clear();
    }

    /** The method of {@code key} answers {@code value} (null too). */
    public static synchronized void returns(String key, Object value) {
        ANSWERS.put(key, value);
    }

    /** The method of {@code key} answers the value written as text. */
    public static void returnsValue(String key, String value) {
        returns(key, parse(value));
    }

    /** The method of {@code key} answers a record made by {@link #build}. */
    public static void returnsBuilt(String key, String className, String[] assignments) {
        returns(key, build(className, assignments));
    }

    /** The method of {@code key} throws a RuntimeException with this message. */
    public static synchronized void throwsOn(String key, String message) {
        THROWS.put(key, message);
    }

    public static synchronized void setReadCount(String key, long count) {
        READ_COUNTS.put(key, count);
    }

    public static synchronized String[] journal() {
        return JOURNAL.toArray(new String[0]);
    }

    public static synchronized void clearJournal() {
        JOURNAL.clear();
    }

    /**
     * A new object of {@code className} (simple names are looked up in the
     * model packages) made by its no-argument constructor, with each
     * "field=VALUE" assignment applied to its public fields.
     */
    public static Object build(String className, String[] assignments) {
        try {
            Class<?> type = recordClass(className);
            Object record = type.getDeclaredConstructor().newInstance();
            for (String assignment : assignments == null ? new String[0] : assignments) {
                int equals = assignment.indexOf('=');
                if (equals < 0) {
                    throw new IllegalArgumentException("not field=VALUE: " + assignment);
                }
                Field field = type.getField(assignment.substring(0, equals));
                field.set(record, parse(assignment.substring(equals + 1)));
            }
            return record;
        } catch (ReflectiveOperationException e) {
            throw new IllegalArgumentException("cannot build " + className + ": " + e, e);
        }
    }

    /** The value written as text (see the class comment). */
    public static Object parse(String value) {
        if ("null".equals(value)) {
            return null;
        }
        for (Map.Entry<String, Function<String, Object>> form : VALUES.entrySet()) {
            if (value.startsWith(form.getKey())) {
                return form.getValue().apply(value.substring(form.getKey().length()));
            }
        }
        throw new IllegalArgumentException("no value form for: " + value);
    }

    // ---- answering (called by the scripted library only) ----

    /** Journals the call, then throws, answers as scripted, or answers the default. */
    public static <T> T call(String key, Supplier<T> answer, Object... args) {
        synchronized (Script.class) {
            journalCall(key, args);
            throwIfScripted(key);
        }
        return answer(key, answer);
    }

    /**
     * A read: journals, fills {@code data} and answers as scripted or with
     * the default made from the count read.
     */
    public static <T> T read(String key, byte[] data, long offset, long size, LongFunction<T> answer, Object... args) {
        long count;
        synchronized (Script.class) {
            journalCall(key, args);
            throwIfScripted(key);
            int length = data == null ? 0 : data.length;
            count = READ_COUNTS.getOrDefault(key, Math.max(0, Math.min(size, length)));
            fill(data, offset, (int) Math.max(0, Math.min(count, length)));
        }
        final long read = count;
        return answer(key, () -> answer.apply(read));
    }

    private static <T> T answer(String key, Supplier<T> fallback) {
        Object scripted;
        synchronized (Script.class) {
            if (!ANSWERS.containsKey(key)) {
                return fallback.get();
            }
            scripted = ANSWERS.get(key);
        }
        @SuppressWarnings("unchecked")
        T result = (T) scripted;
        return result;
    }

    private static void journalCall(String key, Object[] args) {
        JOURNAL.add(key + "(" + joined(Arrays.stream(args).map(Script::describe)) + ")");
    }

    private static void throwIfScripted(String key) {
        String message = THROWS.get(key);
        if (message != null) {
            throw new RuntimeException(message);
        }
    }

    private static void fill(byte[] data, long offset, int count) {
        for (int i = 0; i < count; i++) {
            data[i] = (byte) ((offset + i) & 0xFF);
        }
    }

    static String describe(Object arg) {
        if (arg == null) {
            return "null";
        } else if (arg instanceof String) {
            return "\"" + arg + "\"";
        } else if (arg instanceof Long) {
            return Long.toUnsignedString((Long) arg);
        } else if (arg instanceof byte[]) {
            byte[] bytes = (byte[]) arg;
            CRC32 crc = new CRC32();
            crc.update(bytes);
            return String.format("bytes(len=%d,crc=%08x)", bytes.length, crc.getValue());
        } else if (arg instanceof String[]) {
            return "[" + joined(Arrays.stream((String[]) arg).map(Script::describe)) + "]";
        } else if (arg instanceof CPluginMetaData[]) {
            return "{" + joined(Arrays.stream((CPluginMetaData[]) arg).map(Script::describeEntry)) + "}";
        }
        return String.valueOf(arg);
    }

    private static String describeEntry(CPluginMetaData entry) {
        return entry == null
                ? "null"
                : entry.szPropertyName + "=" + (entry.val == null ? "<noval>" : entry.val.szProperty);
    }

    private static String joined(Stream<String> parts) {
        return parts.collect(Collectors.joining(", "));
    }

    // ---- value forms ----

    private static Class<?> recordClass(String className) throws ClassNotFoundException {
        if (className.indexOf('.') >= 0) {
            return Class.forName(className);
        }
        for (String prefix : RECORD_PACKAGES) {
            try {
                return Class.forName(prefix + className);
            } catch (ClassNotFoundException e) {
                // try the next package
            }
        }
        throw new ClassNotFoundException(className);
    }

    private static Long parseLong(String text) {
        return text.startsWith("-") ? Long.parseLong(text) : Long.parseUnsignedLong(text);
    }

    private static Boolean parseBoolean(String text) {
        if (!text.equals("true") && !text.equals("false")) {
            throw new IllegalArgumentException("not a boolean: " + text);
        }
        return Boolean.valueOf(text);
    }

    /** Splits a list; the empty text is the empty array. */
    private static <E> E[] elements(
            String text, String separator, IntFunction<E[]> array, Function<String, E> element) {
        String[] parts = text.isEmpty() ? new String[0] : text.split(separator, -1);
        E[] out = array.apply(parts.length);
        for (int i = 0; i < parts.length; i++) {
            out[i] = "<null>".equals(parts[i]) ? null : element.apply(parts[i]);
        }
        return out;
    }

    private static String text(String text) {
        return "<empty>".equals(text) ? "" : text;
    }

    private static String name(String text) {
        return "<nullname>".equals(text) ? null : text(text);
    }

    private static CPluginMetaData[] metaData(String text, String separator) {
        return elements(text, separator, CPluginMetaData[]::new, Script::metaDataEntry);
    }

    private static CPluginMetaData metaDataEntry(String text) {
        int equals = text.indexOf('=');
        String propertyName = name(equals < 0 ? text : text.substring(0, equals));
        String value = equals < 0 ? "" : text.substring(equals + 1);
        if ("<noval>".equals(value)) {
            return new CPluginMetaData(propertyName, (CPluginValue) null);
        }
        CPluginMetaData entry = new CPluginMetaData();
        entry.szPropertyName = propertyName;
        entry.val.szProperty = "<null>".equals(value) ? null : text(value);
        return entry;
    }

    private static KQAzureContainer container(String text) {
        return new KQAzureContainer(name(text));
    }

    private static CObjectSubListElement subListElement(String text) {
        if (text.endsWith("<nometa>")) {
            return new CObjectSubListElement(name(text.substring(0, text.length() - "<nometa>".length())), null);
        }
        int brace = text.indexOf('{');
        if (brace < 0 || !text.endsWith("}")) {
            throw new IllegalArgumentException("not file{entries} or file<nometa>: " + text);
        }
        return new CObjectSubListElement(
                name(text.substring(0, brace)), metaData(text.substring(brace + 1, text.length() - 1), ";"));
    }

    /** Error objects that a well-behaved library never returns. */
    static final class Errors {
        private Errors() {}

        static CErrorValue withOrdinal(int ordinal) {
            ERRORID[] all = ERRORID.values();
            return ordinal >= 0 && ordinal < all.length ? new CErrorValue(all[ordinal]) : new OutOfRange(ordinal);
        }

        /** An ordinal that no ERRORID constant has. */
        static final class OutOfRange extends CErrorValue {
            private final int ordinal;

            OutOfRange(int ordinal) {
                super(ERRORID.FAILURE);
                this.ordinal = ordinal;
            }

            @Override
            public int getOrdinalValue() {
                return ordinal;
            }
        }

        /** An error object without identifier. */
        static final class WithoutIdentifier extends CErrorValue {
            private final int ordinal;

            WithoutIdentifier(int ordinal) {
                this.ordinal = ordinal;
            }

            @Override
            public ERRORID getErrorID() {
                return null;
            }

            @Override
            public int getOrdinalValue() {
                return ordinal;
            }
        }
    }
}
