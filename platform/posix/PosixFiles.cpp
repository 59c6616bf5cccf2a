#include "platform/posix/PosixFiles.h"

#include <fcntl.h>
#include <glob.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <memory>

namespace varnel {

PosixFiles::PosixFiles(std::vector<std::string> arguments) : arguments_(std::move(arguments)) {}

std::string PosixFiles::argumentString() const {
    std::string joined;
    for (const auto& a : arguments_) {
        if (!joined.empty()) {
            joined += ' ';
        }
        joined += a;
    }
    return joined;
}

namespace {

bool isNormalFile(const char* path) {
    struct stat info {};
    if (::stat(path, &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    const char* slash = std::strrchr(path, '/');
    const char* name = slash ? slash + 1 : path;
    return name[0] != '.';
}

// The bytes in anonymous memory of their own, so that the pages already read can be unmapped while
// the rest is still being read. (A mapping of the file itself would fault if the file shrank meanwhile.)
class MappedContent : public FileContent {
  public:
    MappedContent(void* base, std::size_t size) : base_(static_cast<char*>(base)), size_(size) {}
    ~MappedContent() override {
        if (mappedBegin_ < mappedEnd()) {
            ::munmap(base_ + mappedBegin_, mappedEnd() - mappedBegin_);
        }
    }
    MappedContent(const MappedContent&) = delete;
    MappedContent& operator=(const MappedContent&) = delete;

    std::string_view bytes() const override { return {base_, size_}; }
    void releaseBefore(std::size_t offset) override {
        const std::size_t end = std::min(offset, size_) / pageSize() * pageSize();
        if (end > mappedBegin_ && ::munmap(base_ + mappedBegin_, end - mappedBegin_) == 0) {
            mappedBegin_ = end;
        }
    }

  private:
    static std::size_t pageSize() { return static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)); }
    std::size_t mappedEnd() const { return (size_ + pageSize() - 1) / pageSize() * pageSize(); }

    char* base_;
    std::size_t size_;
    std::size_t mappedBegin_ = 0;
};

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    void reset(int fd) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

  private:
    int fd_;
};

}  // namespace

bool PosixFiles::matchesNormalFile(const std::string& pattern) const {
    if (pattern.empty()) {
        return false;
    }
    glob_t found{};
    const int rc = ::glob(pattern.c_str(), GLOB_NOSORT, nullptr, &found);
    std::unique_ptr<glob_t, void (*)(glob_t*)> guard(&found, ::globfree);
    if (rc != 0) {
        return false;
    }
    for (std::size_t i = 0; i < found.gl_pathc; ++i) {
        if (isNormalFile(found.gl_pathv[i])) {
            return true;
        }
    }
    return false;
}

namespace {

// Opens a regular file into `holder` and gives its size. Opened without waiting: a FIFO or a device
// named where a file is expected would otherwise block the open until a writer comes, and reading it
// could block for ever. Only what fstat says of the opened descriptor counts, so nothing can be swapped
// in between the test and the read.
Result<std::size_t> OpenRegularFile(const std::string& path, Descriptor& holder) {
    using R = Result<std::size_t>;
    holder.reset(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (holder.get() < 0) {
        return R::failure(path + ": " + std::strerror(errno));
    }
    struct stat info {};
    if (::fstat(holder.get(), &info) != 0) {
        return R::failure(path + ": " + std::strerror(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        return R::failure(path + ": not a regular file");
    }
    const auto size = static_cast<std::size_t>(info.st_size);
    if (size > PosixFiles::MaxFileBytes) {
        return R::failure(path + ": larger than the slot file limit");
    }
    return R::success(size);
}

// Reads exactly `size` bytes: a file that grew meanwhile is read up to the size it had when opened.
Status ReadExactly(const std::string& path, int fd, char* out, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(fd, out + done, size - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return Status::failure(path + ": " + std::strerror(errno));
        }
        if (got == 0) {
            return Status::failure(path + ": the file shrank while it was read");
        }
        done += static_cast<std::size_t>(got);
    }
    return Status::success();
}

}  // namespace

Result<std::string> PosixFiles::readBytes(const std::string& path) const {
    Descriptor fd(-1);
    const auto size = OpenRegularFile(path, fd);
    if (!size) {
        return Result<std::string>::failure(size.error());
    }
    std::string bytes(size.value(), '\0');
    if (Status read = ReadExactly(path, fd.get(), bytes.data(), bytes.size()); !read) {
        return Result<std::string>::failure(read.error());
    }
    return Result<std::string>::success(std::move(bytes));
}

Result<std::unique_ptr<FileContent>> PosixFiles::readContent(const std::string& path) const {
    using R = Result<std::unique_ptr<FileContent>>;
    Descriptor fd(-1);
    const auto opened = OpenRegularFile(path, fd);
    if (!opened) {
        return R::failure(opened.error());
    }
    const std::size_t size = opened.value();
    if (size == 0) {
        return R::success(std::make_unique<detail::StringFileContent>(std::string{}));
    }
    void* base = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) {
        return R::failure(path + ": " + std::strerror(errno));
    }
    auto content = std::make_unique<MappedContent>(base, size);
    if (Status read = ReadExactly(path, fd.get(), static_cast<char*>(base), size); !read) {
        return R::failure(read.error());
    }
    return R::success(std::move(content));
}

}  // namespace varnel
