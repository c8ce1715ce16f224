#include "serial/virtual_ports.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace zuz {
namespace {

using test::TempDir;

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

// The id of a process that has certainly ended (a reaped child).
pid_t DeadPid() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    int status = 0;
    waitpid(child, &status, 0);
    return child;
}

// Sets or clears an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) {
            setenv(name, value->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(VirtualPortFolderTest, ChoosesByEnvironment) {
    TempDir tmp;
    const std::string runtime = tmp.Path();
    const std::string missing = tmp / "no-such-dir";
    const std::string fallback = "/tmp/zuzavadi-" + std::to_string(getuid()) + "/ports";
    struct Case {
        const char* name;
        std::optional<std::string> portDir;
        std::optional<std::string> runtimeDir;
        std::string expected;
    };
    const Case cases[] = {
        {"override wins over runtime dir", "/some/where", runtime, "/some/where"},
        {"empty override is ignored", "", runtime, runtime + "/zuzavadi-ports"},
        {"runtime dir", std::nullopt, runtime, runtime + "/zuzavadi-ports"},
        {"runtime dir that does not exist", std::nullopt, missing, fallback},
        {"empty runtime dir", std::nullopt, "", fallback},
        {"no runtime dir", std::nullopt, std::nullopt, fallback},
    };
    for (const Case& c : cases) {
        ScopedEnv portDir(kPortDirVariable, c.portDir);
        ScopedEnv runtimeDir("XDG_RUNTIME_DIR", c.runtimeDir);
        EXPECT_EQ(VirtualPortFolder(), c.expected) << c.name;
    }
}

TEST(VirtualPortsTest, PublishCreatesPrivateFolderAndAtomicEntry) {
    TempDir tmp;
    const std::string folder = tmp / "a/b/ports";
    const std::string entry = PublishVirtualPort("/dev/null", folder);

    ASSERT_EQ(entry, folder + "/" + std::to_string(getpid()) + ".port");
    EXPECT_EQ(ReadFile(entry), "/dev/null\n");
    struct stat st {};
    ASSERT_EQ(stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(stat((tmp / "a").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // Nothing but the entry is left behind.
    EXPECT_FALSE(Exists(folder + "/." + std::to_string(getpid()) + ".port.tmp"));

    EXPECT_EQ(ListVirtualPorts(folder), std::vector<std::string>{"/dev/null"});
    EXPECT_TRUE(WithdrawVirtualPort(entry));
    EXPECT_FALSE(Exists(entry));
    EXPECT_TRUE(ListVirtualPorts(folder).empty());
    EXPECT_FALSE(WithdrawVirtualPort(entry));
}

TEST(VirtualPortsTest, OverrideVariableRedirectsPublishAndList) {
    TempDir tmp;
    ScopedEnv portDir(kPortDirVariable, tmp.Path());
    const std::string entry = PublishVirtualPort("/dev/null");
    EXPECT_EQ(entry.rfind(tmp.Path() + "/", 0), 0u) << entry;
    EXPECT_EQ(ListVirtualPorts(), std::vector<std::string>{"/dev/null"});
    WithdrawVirtualPort(entry);
}

TEST(VirtualPortsTest, SeveralPortsOfOneProcessKeepSeparateEntries) {
    TempDir tmp;
    const std::string devA = tmp / "devA";
    const std::string devB = tmp / "devB";
    WriteFile(devA, "");
    WriteFile(devB, "");
    // A stale entry left by an earlier process that had this process's id is taken over.
    const std::string own = tmp / (std::to_string(getpid()) + ".port");
    WriteFile(own, "/dev/old\n");

    const std::string first = PublishVirtualPort(devA, tmp.Path());
    const std::string second = PublishVirtualPort(devB, tmp.Path());
    EXPECT_EQ(first, own);
    EXPECT_NE(second, first);
    EXPECT_EQ(ListVirtualPorts(tmp.Path()), (std::vector<std::string>{devA, devB}));

    // Withdrawing the first leaves the second listed; publishing again reuses the free name.
    EXPECT_TRUE(WithdrawVirtualPort(first));
    EXPECT_EQ(ListVirtualPorts(tmp.Path()), std::vector<std::string>{devB});
    EXPECT_EQ(PublishVirtualPort(devA, tmp.Path()), first);
    WithdrawVirtualPort(first);
    WithdrawVirtualPort(second);
}

TEST(VirtualPortsTest, PublishRefusesUnusableInput) {
    TempDir tmp;
    WriteFile(tmp / "file", "");
    EXPECT_EQ(PublishVirtualPort("", tmp.Path()), "");
    EXPECT_EQ(PublishVirtualPort("/dev/a\n/dev/b", tmp.Path()), "");
    EXPECT_EQ(PublishVirtualPort("/dev/null", tmp / "file/ports"), "") << "folder under a file";
}

TEST(VirtualPortsTest, ListKeepsLiveEntriesOnly) {
    TempDir tmp;
    const std::string folder = tmp / "ports";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    const std::string device = tmp / "device";
    WriteFile(device, "");
    const std::string self = std::to_string(getpid());
    const std::string parent = std::to_string(getppid());
    const std::string dead = std::to_string(DeadPid());

    struct Case {
        std::string file;
        std::string content;
        bool listed;
        bool kept;
    };
    const Case cases[] = {
        {self + "-3.port", device + "\n", true, true},
        {parent + ".port", "/dev/null\r\n", true, true},  // CR LF tolerated
        {dead + ".port", device + "\n", false, false},     // stale: removed
        {dead + "-2.port", device + "\n", false, false},
        {self + "-4.port", tmp / "unplugged" + "\n", false, true},  // device gone: kept
        {self + "-5.port", "", false, true},                       // empty entry
        {"abc.port", device + "\n", false, true},
        {self + ".txt", device + "\n", false, true},
        {"." + self + ".port.tmp", device + "\n", false, true},
        {"0.port", device + "\n", false, true},
        {self + "-0.port", device + "\n", false, true},
        {self + "-x.port", device + "\n", false, true},
    };
    for (const Case& c : cases) WriteFile(folder + "/" + c.file, c.content);

    const std::vector<std::string> listed = ListVirtualPorts(folder);
    // Ordered by process id: the parent was started before this process.
    const std::vector<std::string> expected =
        getppid() < getpid() ? std::vector<std::string>{"/dev/null", device}
                             : std::vector<std::string>{device, "/dev/null"};
    EXPECT_EQ(listed, expected);
    for (const Case& c : cases) {
        EXPECT_EQ(Exists(folder + "/" + c.file), c.kept) << c.file;
    }
}

TEST(VirtualPortsTest, MissingFolderListsNothing) {
    TempDir tmp;
    EXPECT_TRUE(ListVirtualPorts(tmp / "nothing-here").empty());
}

}  // namespace
}  // namespace zuz
