"""The independent Python client of the comparison benchmark: one file or a tree, up or down, or deleting a prefix.

    sdk_transfer.py upload|download|delete PREFIX PATH CONCURRENCY CHUNK_BYTES

upload sends every file under PATH as PREFIX/<relative path>; download fetches every object under PREFIX/ into
PATH; delete removes every object under PREFIX/, CONCURRENCY at once. A file larger than CHUNK_BYTES moves alone,
in CHUNK_BYTES pieces CONCURRENCY at once (the SDK's own parallel transfer); smaller files go CONCURRENCY at once. The connection string comes from AZURE_STORAGE_CONNECTION_STRING, the
container from SDK_CONTAINER (default sdk-bench).
"""
import os
import sys
from concurrent.futures import ThreadPoolExecutor

from azure.storage.blob import BlobServiceClient


def main():
    op, prefix, path, concurrency, chunk = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5])
    service = BlobServiceClient.from_connection_string(
        os.environ["AZURE_STORAGE_CONNECTION_STRING"],
        max_block_size=chunk, max_single_put_size=chunk, max_chunk_get_size=chunk, max_single_get_size=chunk)
    container = service.get_container_client(os.environ.get("SDK_CONTAINER", "sdk-bench"))
    if not container.exists():
        container.create_container()
    if op == "upload":
        files = [os.path.join(d, f) for d, _, fs in os.walk(path) for f in fs]
        def put(f, parallel):
            with open(f, "rb") as data:
                container.upload_blob(prefix + "/" + os.path.relpath(f, path), data, overwrite=True,
                                      max_concurrency=parallel)
        for f in files:
            if os.path.getsize(f) > chunk:
                put(f, concurrency)
        run(lambda f: put(f, 1), [f for f in files if os.path.getsize(f) <= chunk], concurrency)
    elif op == "download":
        blobs = list(container.list_blobs(name_starts_with=prefix + "/"))
        def get(b, parallel):
            target = os.path.join(path, b.name[len(prefix) + 1:])
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as out:
                container.download_blob(b.name, max_concurrency=parallel).readinto(out)
        for b in blobs:
            if b.size > chunk:
                get(b, concurrency)
        run(lambda b: get(b, 1), [b for b in blobs if b.size <= chunk], concurrency)
    elif op == "delete":
        names = [b.name for b in container.list_blobs(name_starts_with=prefix + "/")]
        run(container.delete_blob, names, concurrency)
    else:
        sys.exit("unknown operation " + op)


def run(fn, items, workers):
    with ThreadPoolExecutor(max_workers=max(1, workers)) as pool:
        for f in [pool.submit(fn, i) for i in items]:
            f.result()


if __name__ == "__main__":
    main()
