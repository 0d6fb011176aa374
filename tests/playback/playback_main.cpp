// The playback tests: the controller with no window, on the null sound device.
#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    setenv("WAVELANTERN_AUDIO", "null", 0);
    // Caches (the cover art's) go to a folder of the run's, never the user's.
    QTemporaryDir cache;
    if (cache.isValid()) setenv("XDG_CACHE_HOME", cache.path().toLocal8Bit().constData(), 1);
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
