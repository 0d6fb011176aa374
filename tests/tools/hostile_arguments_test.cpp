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
#include "tests/tools/child_process.h"

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

using wl::test::Child;
using wl::test::WaitFor;

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
