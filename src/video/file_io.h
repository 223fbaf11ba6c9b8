#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace video {

// What makes a file the same file whatever path reaches it: its device and inode. Two paths
// (a symbolic link, a hard link, "./name") name one file exactly when their identities are equal.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

// Returns the identity of the file path names, following symbolic links; nothing when no file
// is there (or it cannot be looked at).
std::optional<FileIdentity> identityOfPath(const std::string& path);

// What tells a file apart from the one that was at its path before: its identity, size and the
// time of its last change. A file rewritten in place or replaced has another stamp.
struct FileStamp {
    FileIdentity identity;
    int64_t sizeBytes = 0;
    int64_t changedNs = 0; // last change of data or status, in nanoseconds
    bool operator==(const FileStamp&) const = default;
};

// Returns the stamp of the file path names, following symbolic links; nothing when no file is
// there (or it cannot be looked at).
std::optional<FileStamp> stampOfPath(const std::string& path);

// Random access to one file. Implementations: the real file (POSIX descriptor) and, in tests,
// in-memory and failing files.
class FileIo {
public:
    virtual ~FileIo() = default;
    // Reads up to out.size() bytes at offset; returns the count read (short at end of file) or -1
    // on failure.
    [[nodiscard]] virtual int64_t readAt(int64_t offset, std::span<uint8_t> out) = 0;
    // Writes all of data at offset; returns false on failure.
    [[nodiscard]] virtual bool writeAt(int64_t offset, std::span<const uint8_t> data) = 0;
    // Writes the pieces back to back from offset; returns false on failure. The default writes
    // them one at a time.
    [[nodiscard]] virtual bool writePiecesAt(int64_t offset, std::span<const std::span<const uint8_t>> pieces);
    // Current size of the file in bytes, or -1 on failure.
    [[nodiscard]] virtual int64_t size() = 0;
    // Makes written data durable enough to close: flushes and closes; returns false on failure.
    [[nodiscard]] virtual bool close() = 0;
    // Hints that the byte range will be read soon.
    virtual void adviseWillRead(int64_t offset, int64_t length) { (void)offset, (void)length; }
    // Hints that the file will be read front to back from now on, so the system reads ahead.
    virtual void adviseSequential() {}
    // The system's error text of the last failure.
    virtual std::string errorText() const = 0;
    // The identity of the open file; nothing for files that are not on disk.
    virtual std::optional<FileIdentity> identity() const { return std::nullopt; }
};

// Opens path for reading; returns nullptr and sets errorText on failure.
std::unique_ptr<FileIo> openFileForRead(const std::string& path, std::string& errorText);
// Creates or truncates path for writing; returns nullptr and sets errorText on failure.
std::unique_ptr<FileIo> createFileForWrite(const std::string& path, std::string& errorText);

} // namespace video
