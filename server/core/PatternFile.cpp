// The pattern file itself: only a regular file of at most 2 GiB is read,
// never waiting on a pipe or on another program that holds it, in pieces of
// a fixed size so that memory follows the packed pattern, not the file. Also
// what the first bytes of any pattern text say of its encoding.
#include "PatternReader.h"
#include "PatternReaderInternal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>

#ifdef _WIN32
#include <cstdlib>
#include <winerror.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kesmar {

pattern::EncodingMark pattern::encodingMark(std::string_view start)
{
    using namespace std::string_view_literals;
    // Editors on Windows like to start UTF-8 files with a byte order mark.
    if (start.substr(0, 3) == "\xEF\xBB\xBF")
        return {3, nullptr};
    if (start == "\xFF\xFE\0\0"sv || start == "\0\0\xFE\xFF"sv)
        return {0, "the file is UTF-32 text (it starts with a UTF-32 byte order mark); "
                   "save it as ASCII or UTF-8"};
    if (start.substr(0, 2) == "\xFF\xFE" || start.substr(0, 2) == "\xFE\xFF")
        return {0, "the file is UTF-16 text (it starts with a UTF-16 byte order mark); "
                   "save it as ASCII or UTF-8"};
    return {0, nullptr};
}

namespace {

using pattern::displayPath;

constexpr const char *heldElsewhere =
    "another program holds the file; try again once it lets go of it";

[[noreturn]] void refuse(const std::filesystem::path &path, const std::string &why)
{
    throw PatternError("cannot open " + displayPath(path) + ": " + why, 0);
}

std::string kindOf(std::filesystem::file_type type)
{
    using enum std::filesystem::file_type;
    switch (type) {
    case directory:
        return "a directory";
    case fifo:
        return "a named pipe (FIFO)";
    case socket:
        return "a socket";
    case character:
        return "a character device";
    case block:
        return "a block device";
    default:
        return "something other than a file";
    }
}

// Only a regular file is read: a named pipe would block the start for good
// and a device like /dev/zero never ends.
void refuseUnlessRegular(const std::filesystem::path &path, std::filesystem::file_type type)
{
    if (type == std::filesystem::file_type::regular)
        return;
    std::error_code ec;
    std::string what = "it is " + kindOf(type);
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec))) {
        const auto target = std::filesystem::canonical(path, ec);
        if (!ec)
            what = "it leads to " + displayPath(target) + ", which is " + kindOf(type);
    }
    refuse(path, what + ", not a regular file");
}

void refuseIfTooLarge(const std::filesystem::path &path, std::uint64_t size)
{
    if (size > static_cast<std::uint64_t>(maxPatternFileSize))
        throw PatternError("cannot read " + displayPath(path) + ": it is " + std::to_string(size) +
                               " bytes, over the limit of " + std::to_string(maxPatternFileSize) +
                               " bytes (2 GiB) for a pattern file",
                           0);
}

// The open file, read in pieces of a fixed size.
class PatternFile
{
  public:
    explicit PatternFile(const std::filesystem::path &path) : path_(path)
    {
        std::error_code ec;
        const auto status = std::filesystem::status(path, ec);
        if (ec || !std::filesystem::exists(status))
            refuse(path, ec ? ec.message() : std::strerror(ENOENT));
        refuseUnlessRegular(path, status.type());
#ifdef _WIN32
        _doserrno = 0;
        file_ = _wfopen(path.c_str(), L"rb");
        // Opened elsewhere without sharing: the counterpart of a lease.
        if (!file_ && _doserrno == ERROR_SHARING_VIOLATION)
            refuse(path, heldElsewhere);
        if (!file_)
            refuse(path, std::strerror(errno));
        size_ = std::filesystem::file_size(path, ec);
#else
        // Checked again on what was opened, in case the name changed hands;
        // without O_NONBLOCK a pipe put there meanwhile would block the open.
        fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        // The open would have to wait for a lease (Linux) to be given up.
        if (fd_ < 0 && errno == EWOULDBLOCK)
            refuse(path, heldElsewhere);
        if (fd_ < 0)
            refuse(path, std::strerror(errno));
        struct stat st;
        if (::fstat(fd_, &st) != 0)
            refuse(path, std::strerror(errno));
        if (!S_ISREG(st.st_mode))
            refuseUnlessRegular(path, S_ISDIR(st.st_mode)    ? std::filesystem::file_type::directory
                                      : S_ISFIFO(st.st_mode) ? std::filesystem::file_type::fifo
                                      : S_ISCHR(st.st_mode)  ? std::filesystem::file_type::character
                                      : S_ISBLK(st.st_mode)  ? std::filesystem::file_type::block
                                      : S_ISSOCK(st.st_mode) ? std::filesystem::file_type::socket
                                                             : std::filesystem::file_type::unknown);
        size_ = static_cast<std::uint64_t>(st.st_size);
#endif
        refuseIfTooLarge(path, size_);
    }

    ~PatternFile()
    {
#ifdef _WIN32
        if (file_)
            std::fclose(file_);
#else
        if (fd_ >= 0)
            ::close(fd_);
#endif
    }

    PatternFile(const PatternFile &) = delete;
    PatternFile &operator=(const PatternFile &) = delete;

    std::uint64_t size() const
    {
        return size_;
    }

    // The next piece, empty at the end of the file.
    std::string_view next()
    {
#ifdef _WIN32
        const std::size_t got = std::fread(buffer_.get(), 1, pieceSize, file_);
        if (got == 0 && std::ferror(file_))
            failRead(0);
#else
        ssize_t got;
        do
            got = ::read(fd_, buffer_.get(), pieceSize);
        while (got < 0 && errno == EINTR);
        if (got < 0)
            failRead(errno);
#endif
        // A file that grows while it is read is held to the same limit.
        read_ += static_cast<std::uint64_t>(got);
        refuseIfTooLarge(path_, read_);
        return {buffer_.get(), static_cast<std::size_t>(got)};
    }

  private:
    [[noreturn]] void failRead(int err) const
    {
        throw PatternError("cannot read " + displayPath(path_) +
                               (err ? std::string(": ") + std::strerror(err) : std::string()),
                           0);
    }

    static constexpr std::size_t pieceSize = 64 * 1024;
    std::filesystem::path path_;
    std::unique_ptr<char[]> buffer_ = std::make_unique<char[]>(pieceSize);
    std::uint64_t size_ = 0;
    std::uint64_t read_ = 0;
#ifdef _WIN32
    std::FILE *file_ = nullptr;
#else
    int fd_ = -1;
#endif
};

} // namespace

std::vector<std::uint8_t> loadPatternFile(const std::filesystem::path &path)
{
    PatternFile file(path);
    const TextSource next = [&file] { return file.next(); };
    return readPattern(next, displayPath(path), file.size());
}

} // namespace kesmar
