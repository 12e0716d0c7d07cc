#include "common/file_lock.hpp"
#include "scratch_folder.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

using tarvok::files::FileLock;

class RunLock : public tarvok::testing::ScratchFolder {};

TEST_F(RunLock, OneHolderAtATimeAndNoneAfterItEnds) {
    auto path = root_ / ".tarvok-eval.lock";
    std::optional<FileLock> first = FileLock::try_take(path);
    ASSERT_TRUE(first);
    EXPECT_FALSE(FileLock::try_take(path));  // another open of the file in this process is another holder
    // A holder in another process that ends without letting go (killed): the lock is free again.
    pid_t child = ::fork();
    if (child == 0) {
        first.reset();  // the child's copy of the descriptor would keep the parent's lock alive
        std::optional<FileLock> mine = FileLock::try_take(path);
        ::_exit(mine ? 1 : 0);  // the parent holds it
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    first.reset();
    child = ::fork();
    if (child == 0) {
        std::optional<FileLock> held = FileLock::try_take(path);
        if (!held) ::_exit(2);
        ::pause();  // held until killed
        ::_exit(0);
    }
    for (int i = 0; i < 500 && FileLock::try_take(path); ++i) ::usleep(10'000);  // until the child holds it
    EXPECT_FALSE(FileLock::try_take(path));
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(FileLock::try_take(path));
    EXPECT_THROW(FileLock::try_take(root_ / "no" / "folder"), std::filesystem::filesystem_error);
    std::filesystem::create_symlink(root_ / "elsewhere", root_ / "planted.lock");
    EXPECT_THROW(FileLock::try_take(root_ / "planted.lock"), std::filesystem::filesystem_error);
    EXPECT_FALSE(std::filesystem::exists(root_ / "elsewhere"));  // nothing made through the link
}
