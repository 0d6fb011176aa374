// Runs the built wl-decode and wl-play against what a user can throw at them:
// Ctrl-C and SIGTERM while they wait for input that never comes, endless
// data on standard input, an MP3 through a pipe, and an output that is the
// input under another name.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/test_support.h"

extern char** environ;

namespace {

using wl::test::RunCommand;
using wl::test::ShellQuote;
using Clock = std::chrono::steady_clock;

std::string DecodeTool() { return wl::test::DecodeBinary(); }
std::string PlayTool() {
    const std::string decode = DecodeTool();
    return decode.substr(0, decode.rfind('/')) + "/wl-play";
}
std::string DemoFile() { return wl::test::SourceDir() + "/demo/wavelantern-demo.mp3"; }

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A tool started with standard input from `inFd` and both outputs into `log`,
// with SIGINT and SIGTERM at their defaults whatever the test runner ignores.
class Child {
public:
    Child(const std::vector<std::string>& args, int inFd, const std::string& log) {
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, inFd, STDIN_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        sigset_t none;
        sigset_t defaults;
        sigemptyset(&none);
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGINT);
        sigaddset(&defaults, SIGTERM);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setsigdefault(&attr, &defaults);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        if (posix_spawn(&pid_, argv[0], &actions, &attr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
    ~Child() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    bool Running() {
        if (pid_ <= 0 || status_) return false;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
        return !status_;
    }
    // Waits for the end up to `seconds`, calling `tick` meanwhile (false from it
    // stops waiting); the exit status, or -1 when still running or signalled.
    template <class Tick>
    int Wait(double seconds, Tick tick) {
        const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        while (Running() && Clock::now() < deadline && tick()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return status_ && WIFEXITED(*status_) ? WEXITSTATUS(*status_) : -1;
    }
    int Wait(double seconds) {
        return Wait(seconds, [] { return true; });
    }
    // A line of /proc/PID/status ("SigCgt", "VmRSS"), its value text.
    std::string Status(const std::string& key) const {
        std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind(key + ":", 0) == 0) return line.substr(key.size() + 1);
        }
        return {};
    }
    // The tool catches SIGINT and SIGTERM: from now on a signal cannot kill it
    // the default way, whenever it comes.
    bool CatchesSignals() const {
        const std::string mask = Status("SigCgt");
        if (mask.empty()) return false;
        const unsigned long long bits = std::stoull(mask, nullptr, 16);
        return (bits >> (SIGINT - 1) & 1) && (bits >> (SIGTERM - 1) & 1);
    }

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

bool WaitFor(double seconds, const std::function<bool()>& condition) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

class HostileArguments : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        devNull_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ASSERT_GE(devNull_, 0);
    }
    void TearDown() override { ::close(devNull_); }

    // Starts the tool, waits until it waits (for input that never comes) with
    // its handlers in place and `ready` holds, sends `signal` and expects
    // status 130 soon.
    void ExpectInterrupted(const std::vector<std::string>& args, int inFd, int signal, const char* what,
                           const std::function<bool()>& ready = [] { return true; }) {
        SCOPED_TRACE(what);
        const std::string log = dir_.File("log");
        Child child(args, inFd, log);
        ASSERT_GT(child.pid(), 0);
        ASSERT_TRUE(WaitFor(30, [&] { return (child.CatchesSignals() && ready()) || !child.Running(); }));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_TRUE(child.Running()) << ReadText(log);
        ::kill(child.pid(), signal);
        EXPECT_EQ(child.Wait(20), 130) << ReadText(log);
        EXPECT_NE(ReadText(log).find("interrupted"), std::string::npos) << ReadText(log);
    }

    wl::test::TempDir dir_;
    int devNull_ = -1;
};

TEST_F(HostileArguments, DecodeEndsOnSignalsWhileWaitingForInput) {
    const std::string fifo = dir_.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string out = dir_.File("out.raw");
    ExpectInterrupted({DecodeTool(), fifo, out}, devNull_, SIGINT, "a FIFO without a writer, SIGINT");
    ExpectInterrupted({DecodeTool(), fifo, out}, devNull_, SIGTERM, "a FIFO without a writer, SIGTERM");

    // A writer that never writes: opened once the tool holds the reading end.
    int writer = -1;
    ExpectInterrupted({DecodeTool(), fifo, out}, devNull_, SIGTERM, "a FIFO with a silent writer", [&] {
        if (writer < 0) writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        return writer >= 0;
    });
    EXPECT_GE(writer, 0);
    if (writer >= 0) ::close(writer);

    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    ExpectInterrupted({DecodeTool(), "-", out}, fds[0], SIGINT, "standard input that stays silent");
    ::close(fds[0]);
    ::close(fds[1]);
    EXPECT_FALSE(wl::test::FileExists(out)) << "nothing was decoded, so nothing is written";
}

TEST_F(HostileArguments, PlayRefusesAFifoAtOnceAndEndsOnSigterm) {
    if (!wl::test::FileExists(DemoFile())) GTEST_SKIP() << "missing " << DemoFile();
    const std::string fifo = dir_.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string log = dir_.File("log");
    {
        Child child({PlayTool(), "--output", "null", fifo}, devNull_, log);
        EXPECT_EQ(child.Wait(30), 1) << ReadText(log);
        EXPECT_NE(ReadText(log).find("cannot open " + fifo + ": not a regular file"), std::string::npos)
            << ReadText(log);
    }
    Child child({PlayTool(), "--output", "null", DemoFile()}, devNull_, log);
    ASSERT_TRUE(WaitFor(30, [&] { return ReadText(log).find("length:") != std::string::npos || !child.Running(); }));
    ASSERT_TRUE(child.CatchesSignals());
    ::kill(child.pid(), SIGTERM);
    EXPECT_EQ(child.Wait(20), 130) << ReadText(log);
    EXPECT_NE(ReadText(log).find("stopped"), std::string::npos) << ReadText(log);
}

// Endless zeros on standard input: the memory stays bounded until the search
// for a first frame gives up.
TEST_F(HostileArguments, ZeroesOnStandardInputStayInBoundedMemory) {
    const int zero = ::open("/dev/zero", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(zero, 0);
    const std::string log = dir_.File("log");
    Child child({DecodeTool(), "-", dir_.File("out.raw")}, zero, log);
    ::close(zero);
    long maxKb = 0;
    const int status = child.Wait(60, [&] {
        const std::string rss = child.Status("VmRSS");
        if (!rss.empty()) maxKb = std::max(maxKb, std::stol(rss));
        return maxKb < 64 * 1024;
    });
    EXPECT_LT(maxKb, 64 * 1024) << "kB resident";
    EXPECT_EQ(status, 2) << ReadText(log);
    EXPECT_EQ(ReadText(log), "unknown MPEG Audio format.\n");
}

// Through a pipe or a FIFO the same PCM comes out as from the file: the demo
// (longer than the first look at it) and a cut of it (shorter).
TEST_F(HostileArguments, PipedMp3DecodesAsTheFile) {
    if (!wl::test::FileExists(DemoFile())) GTEST_SKIP() << "missing " << DemoFile();
    const auto demo = wl::test::ReadFileBytes(DemoFile());
    const std::string cut = dir_.File("cut.mp3");
    ASSERT_TRUE(wl::test::WriteFileBytes(cut, std::span(demo).first(40000)));
    const std::string tool = ShellQuote(DecodeTool());
    const std::string fifo = dir_.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& file : {DemoFile(), cut}) {
        SCOPED_TRACE(file);
        const std::string f = ShellQuote(file);
        const std::string a = ShellQuote(dir_.File("file.wav"));
        const std::string b = ShellQuote(dir_.File("pipe.wav"));
        const std::string c = ShellQuote(dir_.File("fifo.wav"));
        ASSERT_EQ(RunCommand(tool + " " + f + " " + a).exitCode, 0);
        ASSERT_EQ(RunCommand("cat " + f + " | " + tool + " - " + b).exitCode, 0);
        ASSERT_EQ(RunCommand("cat " + f + " > " + ShellQuote(fifo) + " & " + tool + " " + ShellQuote(fifo) +
                             " " + c + "; s=$?; wait; exit $s")
                      .exitCode,
                  0);
        const auto expected = wl::test::ReadFileBytes(dir_.File("file.wav"));
        ASSERT_GT(expected.size(), 44u + 40000u);
        EXPECT_TRUE(wl::test::ReadFileBytes(dir_.File("pipe.wav")) == expected);
        EXPECT_TRUE(wl::test::ReadFileBytes(dir_.File("fifo.wav")) == expected);
    }
}

// OUTPUT naming the input, by another spelling or through a link, is refused
// with status 1 before anything is opened for writing.
TEST_F(HostileArguments, AnOutputThatIsTheInputIsRefused) {
    if (!wl::test::FileExists(DemoFile())) GTEST_SKIP() << "missing " << DemoFile();
    const auto original = wl::test::ReadFileBytes(DemoFile());
    const std::string in = dir_.File("in.mp3");
    ASSERT_TRUE(wl::test::WriteFileBytes(in, original));
    ASSERT_EQ(::symlink("in.mp3", dir_.File("soft.mp3").c_str()), 0);
    ASSERT_EQ(::link(in.c_str(), dir_.File("hard.mp3").c_str()), 0);
    const std::string cd = "cd " + ShellQuote(dir_.path()) + " && ";
    for (const std::string& out : {std::string("in.mp3"), std::string("./in.mp3"), in, std::string("soft.mp3"),
                                   std::string("hard.mp3")}) {
        SCOPED_TRACE(out);
        auto r = RunCommand(cd + ShellQuote(DecodeTool()) + " in.mp3 " + ShellQuote(out) + " 2>&1");
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.output, "cannot write " + out + ": it is the input file in.mp3\n");
        r = RunCommand(cd + ShellQuote(PlayTool()) + " --output " + ShellQuote("wav:" + out) + " " +
                       ShellQuote(DemoFile()) + " in.mp3 2>&1");
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.output, "wl-play: cannot write " + out + ": it is the input file in.mp3\n");
        EXPECT_TRUE(wl::test::ReadFileBytes(in) == original);
    }
    const auto r = RunCommand(cd + ShellQuote(DecodeTool()) + " - hard.mp3 < in.mp3 2>&1");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.output, "cannot write hard.mp3: it is standard input\n");
    EXPECT_TRUE(wl::test::ReadFileBytes(in) == original);
}

}  // namespace
