#include "video/file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/uio.h>
#include <vector>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace video {

namespace {

std::string systemText(int error)
{
    return std::strerror(error);
}

// A file reached through a POSIX descriptor, read and written with pread/pwrite.
class PosixFileIo : public FileIo {
public:
    explicit PosixFileIo(int fd) : m_fd(fd) {}
    ~PosixFileIo() override
    {
        if (m_fd >= 0)
            (void)::close(m_fd); // an unchecked close only happens after an earlier failure
    }
    PosixFileIo(const PosixFileIo&) = delete;
    PosixFileIo& operator=(const PosixFileIo&) = delete;

    int64_t readAt(int64_t offset, std::span<uint8_t> out) override
    {
        if (m_fd < 0 || offset < 0)
            return fail(EBADF);
        size_t done = 0;
        while (done < out.size()) {
            const ssize_t got =
                ::pread(m_fd, out.data() + done, out.size() - done, offset + static_cast<off_t>(done));
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                return fail(errno);
            }
            if (got == 0)
                break;
            done += static_cast<size_t>(got);
        }
        return static_cast<int64_t>(done);
    }

    bool writeAt(int64_t offset, std::span<const uint8_t> data) override
    {
        if (m_fd < 0 || offset < 0)
            return fail(EBADF) == 0;
        size_t done = 0;
        while (done < data.size()) {
            const ssize_t put =
                ::pwrite(m_fd, data.data() + done, data.size() - done, offset + static_cast<off_t>(done));
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                return fail(errno) == 0;
            }
            if (put == 0)
                return fail(EIO) == 0;
            done += static_cast<size_t>(put);
        }
        return true;
    }

    int64_t size() override
    {
        struct stat status {};
        if (m_fd < 0 || ::fstat(m_fd, &status) != 0)
            return fail(m_fd < 0 ? EBADF : errno);
        return status.st_size;
    }

    bool close() override
    {
        if (m_fd < 0)
            return fail(EBADF) == 0;
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0)
            return fail(errno) == 0;
        return true;
    }

    void adviseWillRead(int64_t offset, int64_t length) override
    {
        if (m_fd < 0 || offset < 0 || length <= 0)
            return;
        // Looking up every page of a range the system already holds costs the kernel about as
        // much as copying a tenth of it: a range whose first and last byte are held is taken
        // as held, and needs no hint.
        if (holds(offset) && holds(offset + length - 1))
            return;
        (void)::posix_fadvise(m_fd, offset, length, POSIX_FADV_WILLNEED); // a hint; failure is harmless
    }

    void adviseSequential() override
    {
        if (m_fd >= 0)
            (void)::posix_fadvise(m_fd, 0, 0, POSIX_FADV_SEQUENTIAL); // a hint; failure is harmless
    }

    // One pwritev per IOV_MAX pieces instead of one write per piece.
    bool writePiecesAt(int64_t offset, std::span<const std::span<const uint8_t>> pieces) override
    {
        if (m_fd < 0 || offset < 0)
            return fail(EBADF) == 0;
        if (m_vectors.size() < pieces.size())
            m_vectors.resize(pieces.size());
        size_t vectors = 0;
        for (const std::span<const uint8_t>& piece : pieces) {
            if (!piece.empty())
                m_vectors[vectors++] = {const_cast<uint8_t*>(piece.data()), piece.size()};
        }
        size_t first = 0;
        while (first < vectors) {
            const int count = static_cast<int>(std::min<size_t>(vectors - first, IOV_MAX));
            const ssize_t put = ::pwritev(m_fd, m_vectors.data() + first, count, offset);
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                return fail(errno) == 0;
            }
            if (put == 0)
                return fail(EIO) == 0;
            offset += put;
            // Skip what was written; a short write leaves the rest of one piece for the next call.
            auto left = static_cast<size_t>(put);
            while (left > 0 && left >= m_vectors[first].iov_len)
                left -= m_vectors[first++].iov_len;
            if (left > 0) {
                m_vectors[first].iov_base = static_cast<uint8_t*>(m_vectors[first].iov_base) + left;
                m_vectors[first].iov_len -= left;
            }
        }
        return true;
    }

    std::string errorText() const override { return m_errorText; }

    std::optional<FileIdentity> identity() const override
    {
        struct stat status {};
        if (m_fd < 0 || ::fstat(m_fd, &status) != 0)
            return std::nullopt;
        return FileIdentity{static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
    }

private:
    // True when the system holds the byte at offset in memory: reading it would not wait.
    bool holds(int64_t offset) const
    {
        uint8_t byte = 0;
        iovec vector{&byte, 1};
        return ::preadv2(m_fd, &vector, 1, offset, RWF_NOWAIT) == 1;
    }

    std::vector<iovec> m_vectors;
    int64_t fail(int error)
    {
        m_errorText = systemText(error);
        return -1;
    }

    int m_fd = -1;
    std::string m_errorText;
};

} // namespace

std::optional<FileIdentity> identityOfPath(const std::string& path)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return std::nullopt;
    return FileIdentity{static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
}

std::optional<FileStamp> stampOfPath(const std::string& path)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return std::nullopt;
    const auto nanoseconds = [](const timespec& time) {
        return static_cast<int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
    };
    return FileStamp{{static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)},
                     static_cast<int64_t>(status.st_size),
                     std::max(nanoseconds(status.st_mtim), nanoseconds(status.st_ctim))};
}

bool FileIo::writePiecesAt(int64_t offset, std::span<const std::span<const uint8_t>> pieces)
{
    for (const std::span<const uint8_t>& piece : pieces) {
        if (!writeAt(offset, piece))
            return false;
        offset += static_cast<int64_t>(piece.size());
    }
    return true;
}

std::unique_ptr<FileIo> openFileForRead(const std::string& path, std::string& errorText)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        errorText = systemText(errno);
        return nullptr;
    }
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
        (void)::close(fd); // nothing was read from it
        errorText = systemText(EISDIR);
        return nullptr;
    }
    // Readers jump between keyframe groups; reading ahead would fetch groups that are skipped.
    (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM); // a hint; failure is harmless
    return std::make_unique<PosixFileIo>(fd);
}

std::unique_ptr<FileIo> createFileForWrite(const std::string& path, std::string& errorText)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        errorText = systemText(errno);
        return nullptr;
    }
    return std::make_unique<PosixFileIo>(fd);
}

} // namespace video
