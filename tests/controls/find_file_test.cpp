// Folder search over a temporary tree: recursion, targets, filters, folder
// pruning, the threaded mode and the setter errors.
#include "controls/find_file.h"
#include "controls/name_order.h"
#include "tests/app/run_events.h"

#include <QCoreApplication>
#include <QDir>
#include <QPointer>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <set>
#include <string>
#include <vector>

namespace wl {
namespace {

time_t LocalTime(int y, int mo, int d, int h, int mi) {
    struct tm t {};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_isdst = -1;
    return mktime(&t);
}

class FindFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        root_ = tmp_.path().toStdString();
        Write("a.mp3", "xx hello world xx");
        Write("B.MP3", "b");
        Write("notes.txt", "notes");
        Write("readme", "r");
        Write("big.mp3", std::string(5000, 'z'));
        Write(".hidden.mp3", "h");
        Write(".hiddendir/x.mp3", "h");
        Write("sub/c.mp3", "c");
        Write("sub/d.tmp", "d");
        Write("sub/deep/d.Mp3", "d");
        Write("skip/e.mp3", "e");
        ASSERT_EQ(0, ::symlink(root_.c_str(), (root_ + "/loop").c_str()));
        // Every entry gets a known modification time: a.mp3 on 2001-02-03
        // 12:00, the rest on 2020-06-15 18:30 (local time).
        for (const char* f : {"B.MP3", "notes.txt", "readme", "big.mp3", "sub/c.mp3", "sub/d.tmp",
                              "sub/deep/d.Mp3", "skip/e.mp3"})
            SetTime(f, LocalTime(2020, 6, 15, 18, 30));
        SetTime("a.mp3", LocalTime(2001, 2, 3, 12, 0));
    }

    void Write(const std::string& rel, const std::string& content) {
        const std::string path = root_ + "/" + rel;
        QDir().mkpath(QString::fromStdString(path.substr(0, path.rfind('/'))));
        std::ofstream(path, std::ios::binary) << content;
    }

    void SetTime(const std::string& rel, time_t t) {
        const struct timespec times[2] = {{t, 0}, {t, 0}};
        ASSERT_EQ(0, ::utimensat(AT_FDCWD, (root_ + "/" + rel).c_str(), times, 0));
    }

    // Paths found, relative to the root, sorted.
    std::vector<std::string> Run(TFindFile& ff) {
        found_.clear();
        folders_.clear();
        completes_ = 0;
        ff.OnFound = [this](TFindFile*, const std::string& folder, const TSearchRec& rec) {
            const std::string full = folder == "/" ? "/" + rec.Name : folder + "/" + rec.Name;
            found_.push_back(full.rfind(root_ + "/", 0) == 0 ? full.substr(root_.size() + 1) : full);
        };
        ff.OnNewFolder = [this](TFindFile*, const std::string& folder, bool&) { folders_.push_back(folder); };
        ff.OnComplete = [this](TFindFile* sender) {
            EXPECT_FALSE(sender->Busy());
            ++completes_;
        };
        ff.Execute();
        EXPECT_EQ(1, completes_);
        std::vector<std::string> out = found_;
        std::sort(out.begin(), out.end());
        return out;
    }

    using Names = std::vector<std::string>;
    QTemporaryDir tmp_;
    std::string root_;
    std::vector<std::string> found_;
    std::vector<std::string> folders_;
    int completes_ = 0;
};

TEST_F(FindFileTest, RecursiveSearchFindsMixedCaseAndSkipsDotEntries) {
    TFindFile ff;
    ff.SetLocation(root_);
    ff.SetFilename("*.mp3");
    EXPECT_EQ((Names{"B.MP3", "a.mp3", "big.mp3", "skip/e.mp3", "sub/c.mp3", "sub/deep/d.Mp3"}), Run(ff));
    // Folders come without a trailing "/"; the link back to the root is
    // announced but not searched again.
    std::set<std::string> folders(folders_.begin(), folders_.end());
    EXPECT_EQ((std::set<std::string>{root_, root_ + "/skip", root_ + "/sub", root_ + "/sub/deep", root_ + "/loop"}),
              folders);
    EXPECT_EQ(root_, folders_.front());
    EXPECT_FALSE(ff.Busy());
    EXPECT_TRUE(ff.LastError().empty());
}

// Each folder's files are reported, and its subfolders entered, in name order:
// case ignored, digit runs compared as numbers.
TEST_F(FindFileTest, FoldersAreSearchedInNameOrder) {
    for (const char* f : {"album/track16.mp3", "album/track10.mp3", "album/Track2.mp3", "album/track20.mp3",
                          "album/track1.mp3", "album/cd10/x.mp3", "album/CD9/y.mp3", "album/b/z.mp3"})
        Write(f, "m");
    TFindFile ff;
    ff.SetLocation(root_ + "/album");
    ff.SetFilename("*.mp3");
    Run(ff);
    EXPECT_EQ((Names{"album/track1.mp3", "album/Track2.mp3", "album/track10.mp3", "album/track16.mp3",
                     "album/track20.mp3", "album/b/z.mp3", "album/CD9/y.mp3", "album/cd10/x.mp3"}),
              found_);
}

TEST(NameOrder, CaseAndNumbers) {
    EXPECT_LT(CompareNames("track2", "track10"), 0);
    EXPECT_GT(CompareNames("track10", "track9"), 0);
    EXPECT_LT(CompareNames("alpha", "Beta"), 0);
    EXPECT_LT(CompareNames("Beta", "gamma"), 0);
    EXPECT_LT(CompareNames("a", "a1"), 0);
    EXPECT_LT(CompareNames("x007y", "x08y"), 0);
    EXPECT_LT(CompareNames("a99999999999999999999b", "a100000000000000000000b"), 0);  // beyond 64 bits
    // Equal but for case or zeros: still a fixed order, zero only for equal names.
    EXPECT_NE(CompareNames("A.mp3", "a.mp3"), 0);
    EXPECT_EQ(CompareNames("A.mp3", "a.mp3"), -CompareNames("a.mp3", "A.mp3"));
    EXPECT_NE(CompareNames("01", "1"), 0);
    EXPECT_EQ(CompareNames("same", "same"), 0);
}

TEST_F(FindFileTest, DefaultsFindEveryFileButNoFolders) {
    TFindFile ff;
    EXPECT_EQ("*.*", ff.Filename());
    EXPECT_TRUE(ff.Subfolders());
    EXPECT_EQ(ffArchive | ffReadonly | ffHidden | ffSystem, ff.Attributes());
    EXPECT_TRUE(ff.IgnoreCase());
    EXPECT_FALSE(ff.Threaded());
    ff.SetLocation(root_);
    ff.SetSubfolders(false);
    // "readme" has no extension and still meets "*.*".
    EXPECT_EQ((Names{"B.MP3", "a.mp3", "big.mp3", "notes.txt", "readme"}), Run(ff));
    EXPECT_EQ((std::vector<std::string>{root_}), folders_);
}

TEST_F(FindFileTest, DirectoryAttributeReportsFolders) {
    TFindFile ff;
    ff.SetLocation(root_);
    ff.SetFilename("s*");
    ff.SetAttributes(ffDirectory);
    EXPECT_EQ((Names{"skip", "sub"}), Run(ff));
}

TEST_F(FindFileTest, ExactAttributeSeparatesReadOnlyFiles) {
    ASSERT_EQ(0, ::chmod((root_ + "/B.MP3").c_str(), 0444));
    TFindFile ff;
    ff.SetLocation(root_);
    ff.SetFilename("*.mp3");
    ff.SetSubfolders(false);
    ff.SetExactAttribute(true);
    ff.SetAttributes(ffArchive | ffReadonly);
    EXPECT_EQ((Names{"B.MP3"}), Run(ff));
    ff.SetAttributes(ffArchive);
    EXPECT_EQ((Names{"a.mp3", "big.mp3"}), Run(ff));
}

TEST_F(FindFileTest, TargetsFromSeveralLocations) {
    TFindFile ff;
    ff.SetLocation(root_ + "/sub;;" + root_ + "/skip/;" + root_ + "/sub");
    ff.SetFilename("readme");
    const std::string cwd = QDir::currentPath().toStdString();
    EXPECT_EQ((std::vector<std::string>{root_ + "/sub/readme.*", (cwd == "/" ? "" : cwd) + "/readme.*",
                                        root_ + "/skip/readme.*"}),
              ff.BuildTargets());
    ff.SetFilename("");
    EXPECT_EQ(root_ + "/sub/*.*", ff.BuildTargets().front());

    // Relative parts and the empty one resolve against the current folder.
    const QString saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(root_)));
    TFindFile rel;
    rel.SetLocation("sub;;skip");
    rel.SetFilename("*.mp3");
    rel.SetSubfolders(false);
    const Names got = Run(rel);
    QDir::setCurrent(saved);
    EXPECT_EQ((Names{"B.MP3", "a.mp3", "big.mp3", "skip/e.mp3", "sub/c.mp3"}), got);
    EXPECT_EQ((std::vector<std::string>{root_ + "/sub", root_, root_ + "/skip"}), folders_);
}

TEST_F(FindFileTest, IncludeFilesReplaceLocation) {
    TFindFile ff;
    ff.SetLocation("/nonexistent-location");
    ff.IncludeFiles() = {root_ + "/sub/*.tmp", root_ + "/skip/*.mp3"};
    EXPECT_EQ((Names{"skip/e.mp3", "sub/d.tmp"}), Run(ff));
}

TEST_F(FindFileTest, RootFolderKeepsItsSeparator) {
    TFindFile ff;
    ff.SetLocation("/");
    ff.SetFilename("wl-no-such-entry-4711.none");
    ff.SetSubfolders(false);
    EXPECT_TRUE(Run(ff).empty());
    EXPECT_EQ((std::vector<std::string>{"/"}), folders_);
}

TEST_F(FindFileTest, ExclusionsByNameAndByFolder) {
    TFindFile ff;
    ff.SetLocation(root_);
    ff.ExcludeFiles() = {"*.TMP", "*.txt", "readme"};
    EXPECT_EQ((Names{"B.MP3", "a.mp3", "big.mp3", "skip/e.mp3", "sub/c.mp3", "sub/deep/d.Mp3"}), Run(ff));
    // A folder pattern takes that folder's files, not those of its subfolders.
    ff.ExcludeFiles() = {root_ + "/sub/*.*", "/skip/*.mp3"};
    ff.SetFilename("*.mp3");
    EXPECT_EQ((Names{"B.MP3", "a.mp3", "big.mp3", "sub/deep/d.Mp3"}), Run(ff));
}

TEST_F(FindFileTest, SizeBounds) {
    TFindFile ff;
    ff.SetLocation(root_);
    ff.SetFilename("*.mp3");
    ff.SetSizeMin(1000);
    EXPECT_EQ((Names{"big.mp3"}), Run(ff));
    ff.SetSizeMin(0);
    ff.SetSizeMax(1);
    EXPECT_EQ((Names{"B.MP3", "skip/e.mp3", "sub/c.mp3", "sub/deep/d.Mp3"}), Run(ff));
    ff.SetSizeMin(17);
    ff.SetSizeMax(5000);
    EXPECT_EQ((Names{"a.mp3", "big.mp3"}), Run(ff));
}

TEST_F(FindFileTest, ModifiedDateBounds) {
    TFindFile ff;
    ff.SetLocation(root_);
    ff.SetFilename("*.mp3");
    ff.SetSubfolders(false);
    // A whole day compares with the file's date.
    ff.SetModifiedBefore(EncodeDateTime(2001, 2, 3));
    EXPECT_EQ((Names{"a.mp3"}), Run(ff));
    ff.SetModifiedBefore(0);
    ff.SetModifiedAfter(EncodeDateTime(2001, 2, 4));
    EXPECT_EQ((Names{"B.MP3", "big.mp3"}), Run(ff));
    ff.SetModifiedAfter(EncodeDateTime(2001, 2, 3));
    EXPECT_EQ((Names{"B.MP3", "a.mp3", "big.mp3"}), Run(ff));
    // A time only compares with the time of day (12:00 and 18:30).
    ff.SetModifiedAfter(0);
    ff.SetModifiedBefore(EncodeDateTime(1899, 12, 30, 13, 0));
    EXPECT_EQ((Names{"a.mp3"}), Run(ff));
    ff.SetModifiedBefore(0);
    ff.SetModifiedAfter(EncodeDateTime(1899, 12, 30, 13, 0));
    EXPECT_EQ((Names{"B.MP3", "big.mp3"}), Run(ff));
    // Anything else with the full value.
    ff.SetModifiedAfter(EncodeDateTime(2001, 2, 3, 12, 30));
    EXPECT_EQ((Names{"B.MP3", "big.mp3"}), Run(ff));
    ff.SetModifiedAfter(EncodeDateTime(2001, 2, 3, 11, 30));
    ff.SetModifiedBefore(EncodeDateTime(2020, 6, 15, 18, 0));
    EXPECT_EQ((Names{"a.mp3"}), Run(ff));
    // The other pairs look at other times: every access is newer than 2001.
    ff.SetModifiedAfter(0);
    ff.SetModifiedBefore(0);
    ff.SetAccessedBefore(EncodeDateTime(1990, 1, 1));
    EXPECT_TRUE(Run(ff).empty());
}

TEST_F(FindFileTest, ContainingSearchesBlocksWithoutOverlap) {
    std::string across(8192, '.');
    across.replace(4093, 6, "needle");  // bytes 4093..4098 span two blocks
    std::string first(8192, '.');
    first.replace(4090, 6, "needle");  // ends at the block's last byte
    std::string second(8192, '.');
    second.replace(4096, 6, "NEEDLE");  // starts the second block
    Write("blk/across.bin", across);
    Write("blk/first.bin", first);
    Write("blk/second.bin", second);
    TFindFile ff;
    ff.SetLocation(root_ + "/blk");
    ff.SetContaining("needle");
    EXPECT_EQ((Names{"blk/first.bin", "blk/second.bin"}), Run(ff));
    ff.SetIgnoreCase(false);
    EXPECT_EQ((Names{"blk/first.bin"}), Run(ff));

    TFindFile words;
    words.SetLocation(root_);
    words.SetContaining("HELLO World");
    EXPECT_EQ((Names{"a.mp3"}), Run(words));
    words.SetIgnoreCase(false);
    EXPECT_TRUE(Run(words).empty());
}

TEST_F(FindFileTest, ContainingNeverOpensPipes) {
    ASSERT_EQ(0, ::mkfifo((root_ + "/skip/pipe").c_str(), 0644));
    TFindFile ff;
    ff.SetLocation(root_ + "/skip");
    EXPECT_EQ((Names{"skip/e.mp3", "skip/pipe"}), Run(ff));
    // Reading the pipe would wait for ever; it simply does not contain the text.
    ff.SetContaining("e");
    EXPECT_EQ((Names{"skip/e.mp3"}), Run(ff));
    EXPECT_TRUE(ff.LastError().empty());
}

TEST_F(FindFileTest, IgnoreFolderPrunesTheSubtree) {
    TFindFile ff;
    ff.SetLocation(root_);
    ff.SetFilename("*.mp3");
    std::vector<std::string> announced;
    ff.OnNewFolder = [&](TFindFile*, const std::string& folder, bool& ignore) {
        announced.push_back(folder);
        if (folder == root_ + "/sub") ignore = true;
    };
    std::vector<std::string> found;
    ff.OnFound = [&](TFindFile*, const std::string& folder, const TSearchRec& rec) {
        found.push_back(folder + "/" + rec.Name);
    };
    ff.Execute();
    std::sort(found.begin(), found.end());
    EXPECT_EQ((Names{root_ + "/B.MP3", root_ + "/a.mp3", root_ + "/big.mp3", root_ + "/skip/e.mp3"}), found);
    EXPECT_EQ(announced.end(), std::find(announced.begin(), announced.end(), root_ + "/sub/deep"));
}

TEST_F(FindFileTest, AbortBusyAndHandlerErrors) {
    TFindFile ff;
    ff.SetLocation(root_);
    int found = 0, complete = 0;
    ff.OnFound = [&](TFindFile* sender, const std::string&, const TSearchRec&) {
        ++found;
        EXPECT_TRUE(sender->Busy());
        sender->Execute();  // ignored while busy
        sender->Abort();
    };
    ff.OnComplete = [&](TFindFile*) { ++complete; };
    ff.Execute();
    EXPECT_EQ(1, found);
    EXPECT_EQ(1, complete);
    EXPECT_TRUE(ff.Aborted());

    // A handler that throws ends the search, which still completes.
    ff.OnFound = [&](TFindFile*, const std::string&, const TSearchRec&) {
        ++found;
        throw std::runtime_error("handler failed");
    };
    found = complete = 0;
    ff.Execute();
    EXPECT_EQ(1, found);
    EXPECT_EQ(1, complete);
    EXPECT_FALSE(ff.Busy());
    EXPECT_EQ("handler failed", ff.LastError());

    // The next search starts afresh.
    ff.OnFound = [&](TFindFile*, const std::string&, const TSearchRec&) { ++found; };
    found = 0;
    ff.SetSubfolders(false);
    ff.Execute();
    EXPECT_EQ(5, found);
    EXPECT_FALSE(ff.Aborted());
    EXPECT_TRUE(ff.LastError().empty());
}

TEST(FindFileSetters, RejectFolderPartsAndWildcards) {
    TFindFile ff;
    try {
        ff.SetFilename("music/*.mp3");
        FAIL() << "no error";
    } catch (const EFindFileError& e) {
        EXPECT_STREQ("music/*.mp3\n\rInvalid filename specified", e.what());
    }
    EXPECT_EQ("*.*", ff.Filename());
    try {
        ff.SetLocation("/music;/x/*");
        FAIL() << "no error";
    } catch (const EFindFileError& e) {
        EXPECT_STREQ("/music;/x/*\n\rlocation cannot to be contained wildcards", e.what());
    }
    EXPECT_THROW(ff.SetLocation("/a?"), EFindFileError);
    EXPECT_EQ("", ff.Location());
    ff.SetLocation("/music;/other");
    EXPECT_EQ("/music;/other", ff.Location());
}

TEST(FindFileDates, EncodeAndConvert) {
    EXPECT_DOUBLE_EQ(0.0, EncodeDateTime(1899, 12, 30));
    EXPECT_DOUBLE_EQ(25569.0, EncodeDateTime(1970, 1, 1));
    EXPECT_DOUBLE_EQ(36526.5, EncodeDateTime(2000, 1, 1, 12));
    const time_t t = LocalTime(2010, 7, 8, 6, 0);
    EXPECT_NEAR(EncodeDateTime(2010, 7, 8, 6, 0), UnixToLocalDateTime(t), 1e-9);
}

// ------------------------------------------------------------ threaded mode

TEST_F(FindFileTest, ThreadedSearchRunsEveryEventOnTheUiThread) {
    TFindFile ff;
    ff.SetLocation(root_);
    ff.SetFilename("*.mp3");
    ff.SetThreaded(true);
    ff.SetThreadPriority(TSearchPriority::tpLower);
    QThread* ui = QThread::currentThread();
    std::vector<std::string> found;
    std::vector<std::string> folders;
    int offThread = 0, complete = 0;
    bool busyAtComplete = true;
    ff.OnNewFolder = [&](TFindFile*, const std::string& folder, bool& ignore) {
        if (QThread::currentThread() != ui) ++offThread;
        folders.push_back(folder);
        ignore = folder == root_ + "/sub/deep";
    };
    ff.OnFound = [&](TFindFile* sender, const std::string& folder, const TSearchRec& rec) {
        if (QThread::currentThread() != ui) ++offThread;
        EXPECT_TRUE(sender->Busy());
        found.push_back(folder.substr(root_.size()) + "/" + rec.Name);
        sender->SetThreadPriority(TSearchPriority::tpLowest);
    };
    ff.OnComplete = [&](TFindFile* sender) {
        if (QThread::currentThread() != ui) ++offThread;
        busyAtComplete = sender->Busy();
        ++complete;
    };
    ff.Execute();
    EXPECT_TRUE(ff.Busy());
    ff.Execute();  // ignored while busy
    ASSERT_TRUE(test::RunEventsUntil([&] { return complete > 0; }, 30000)) << "threaded search did not complete";
    QCoreApplication::processEvents();
    EXPECT_EQ(1, complete);
    EXPECT_FALSE(busyAtComplete);
    EXPECT_FALSE(ff.Busy());
    EXPECT_EQ(0, offThread);
    std::sort(found.begin(), found.end());
    EXPECT_EQ((Names{"/B.MP3", "/a.mp3", "/big.mp3", "/skip/e.mp3", "/sub/c.mp3"}), found);
    EXPECT_EQ(TSearchPriority::tpLowest, ff.ThreadPriority());
    EXPECT_EQ(root_, folders.front());

    // The component can search again once done.
    found.clear();
    ff.SetSubfolders(false);
    ff.Execute();
    ASSERT_TRUE(test::RunEventsUntil([&] { return complete > 1; }, 30000));
    EXPECT_EQ(3u, found.size());
}

TEST_F(FindFileTest, ThreadedSearchReportsErrorsAndAbort) {
    TFindFile ff;
    ff.SetLocation(root_);
    ff.SetThreaded(true);
    int found = 0, complete = 0;
    ff.OnFound = [&](TFindFile*, const std::string&, const TSearchRec&) {
        if (++found == 2) throw std::runtime_error("stop here");
    };
    ff.OnComplete = [&](TFindFile*) { ++complete; };
    ff.Execute();
    ASSERT_TRUE(test::RunEventsUntil([&] { return complete > 0; }, 30000));
    EXPECT_EQ(2, found);
    EXPECT_EQ("stop here", ff.LastError());

    found = 0;
    ff.OnFound = [&](TFindFile* sender, const std::string&, const TSearchRec&) {
        ++found;
        sender->Abort();
    };
    ff.Execute();
    ASSERT_TRUE(test::RunEventsUntil([&] { return complete > 1; }, 30000));
    EXPECT_EQ(1, found);
    EXPECT_TRUE(ff.LastError().empty());
}

TEST_F(FindFileTest, DestroyingDuringThreadedSearchStopsTheWorker) {
    int events = 0;
    {
        TFindFile ff;
        ff.SetLocation(root_);
        ff.SetThreaded(true);
        ff.OnFound = [&](TFindFile*, const std::string&, const TSearchRec&) { ++events; };
        ff.OnNewFolder = [&](TFindFile*, const std::string&, bool&) { ++events; };
        ff.OnComplete = [&](TFindFile*) { ++events; };
        ff.Execute();
        // The worker is now waiting for (or about to post) its first event.
        QThread::msleep(20);
    }
    // Nothing left behind fires after the component is gone.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(0, events);

    // Destroyed while a handler has the worker waiting on a later event.
    auto* ff = new TFindFile;
    ff->SetLocation(root_);
    ff->SetThreaded(true);
    int seen = 0;
    ff->OnFound = [&](TFindFile* sender, const std::string&, const TSearchRec&) {
        if (++seen == 1) sender->deleteLater();
    };
    ff->Execute();
    QPointer<TFindFile> alive(ff);
    ASSERT_TRUE(test::RunEventsUntil([&] { return alive.isNull(); }, 30000));
    QCoreApplication::processEvents();
    EXPECT_EQ(1, seen);
}

}  // namespace
}  // namespace wl
