/**
 * The Java library the native plug-in calls: a backup host's objects as block blobs in one Azure
 * Blob Storage container. The result and error records ({@code C...FnValue}, {@code
 * KQAzureContainer}, ...) share this package from the tree {@code java/model}; the library's own
 * classes are one package in layers, which a reader meets from the top:
 *
 * <pre>
 * Entry (src/entry, loads on any VM; refers to nothing below by type)
 *   KQAzurePlugInLibrary  the class the plug-in looks up by name; loads the facade by name
 *   StorageLibrary        every call the plug-in makes, as the entry class forwards it
 *   NotSupportedLibrary   the null object: every call NOT_SUPPORTED when the facade cannot load
 * Facade and its call families
 *   AzureStorageLibrary   the public calls (life cycle, handles, writes, reads, metadata, account);
 *                         owns the connection and data path of one AzureInit; nothing gets out
 *   ObjectAccess          what both object families share: the session table, the current clients
 *   ObjectWrites          appends, one-shot uploads and updates, metadata in place, deletions
 *   ObjectReads           reads through a read session or by name, and metadata
 *   AccountQueries        account identity and size, containers, regions, listings; writes nothing
 *   Rehydration           an archived object brought back online (a reserved metadata property)
 *   SasCheck              what a SAS token allows: no backup starts that the token cannot finish
 * Sessions and handles
 *   SessionTable          open sessions by handle, one writer per name, a read session's read-ahead
 *   HandleTokens          random handle strings, and the handles closed lately
 *   Session               what a handle stands for: a WriteSession or a ReadSession
 *   WriteSession          an object being written: write-behind blocks, committed at the close
 *   ReadSession           an object opened for reading: length, ETag and metadata at the open
 * Data path
 *   DataPath              stage, upload, commit, ranged read, each under RetryPolicy; the workers
 *   ReadAhead             a read session's ranges fetched ahead while it streams
 *   FirstRange            an open's first range: the session's length, ETag, metadata and first bytes
 *   RangePlan             how a stream cuts an object into ranges
 *   RangeTarget           where one try of a ranged read lands, checked as it arrives
 *   BlockLayout           where committed blocks lie and their CRC32C: whole-block ranges checked
 *   BufferPool            the process-wide budget of write-behind and read-ahead buffers
 * Control path
 *   StorageConnection     the clients of one configuration: OkHttp, service and container clients
 *   StorageConfig         the connection string, parsed and checked; secrets reread and redacted
 *   TransferSettings      the data path's items, and every request's time limits
 *   RetryPolicy           which data request failures are tried again, how often, for how long
 *   ErrorMapper           whatever a storage call threw, as the one ERRORID the host sees
 *   StorageFailure        a failure already classified: the exception thrown inside the library
 * Utilities
 *   ObjectNames           which strings are usable object names
 *   MetadataCodec         the host's metadata to blob metadata and back
 *   Crc32c                CRC32C on Java 8 (the JDK's class from Java 9 on)
 *   DaemonThreads         every thread the library starts: a daemon, named after its work
 *   RangeTrace            an optional timeline of the data requests on standard error
 * </pre>
 *
 * <p>Calls go down: a class uses its own layer and the layers below it, never one above. The entry
 * layer reaches the facade only by name, so a missing dependency jar fails in one place, and the
 * facade implements the entry layer's {@code StorageLibrary}. StorageFailure and the utilities
 * serve every layer. The data path knows no session, and the control path neither sessions nor the
 * data path (but TransferSettings reads DataPath's MD5 range limit). Each AzureInit builds one
 * StorageConnection and one DataPath, replaced together; of what holds memory, only BufferPool is
 * shared by every instance in the process.
 */
package com.kq.AzureLibrary;
