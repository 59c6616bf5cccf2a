#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>

#include "platform/posix/PosixFiles.h"

namespace varnel {
namespace {

// A slot-file argument that is a pattern matches a normal file, but the path opened is the argument
// itself: a FIFO of that name must be refused at once, not wait for a writer.
TEST(PosixFiles, RefusesAFifoOrDirectoryNamedAsSlotFileWithoutWaiting) {
    const auto dir =
        std::filesystem::path(::testing::TempDir()) / ("varnel-files-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "a", std::ios::binary) << "[text01]\r\nhello\r\n[end]\r\n";
    const std::string fifo = (dir / "[a]").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

    const PosixFiles files;
    EXPECT_TRUE(files.matchesNormalFile(fifo));  // the pattern [a] names the file "a"
    auto reads = std::async(std::launch::async, [&] {
        return std::make_pair(files.readContent(fifo).ok(), files.readBytes(fifo).ok());
    });
    bool waited = false;
    while (reads.wait_for(waited ? std::chrono::milliseconds(100) : std::chrono::milliseconds(10000)) !=
           std::future_status::ready) {
        // A writer comes and goes, so that a blocked open returns and the test ends with a failure.
        waited = true;
        ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
    }
    EXPECT_FALSE(waited) << "reading a FIFO waited for a writer";
    EXPECT_EQ(reads.get(), std::make_pair(false, false));

    EXPECT_FALSE(files.readContent(dir.string()).ok());
    EXPECT_FALSE(files.readBytes(dir.string()).ok());
    const auto file = files.readBytes((dir / "a").string());
    ASSERT_TRUE(file.ok());
    EXPECT_EQ(file.value(), "[text01]\r\nhello\r\n[end]\r\n");
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace varnel
