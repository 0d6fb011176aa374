// The application tests run the windows on the offscreen platform with the
// null sound device.
#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("WAVELANTERN_AUDIO", "null", 0);
    // Caches (the cover art's) go to a folder of the run's, never the user's.
    QTemporaryDir cache;
    if (cache.isValid()) setenv("XDG_CACHE_HOME", cache.path().toLocal8Bit().constData(), 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
