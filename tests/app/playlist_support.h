// Helpers of the playlist tests: MP3 files of exact sizes made of silent
// frames, an ID3v1 tag, and a fixture whose main window has the display
// labels the playlist writes to (the display area builds them in the program).
#pragma once

#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QLabel>
#include <QTableView>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/playlist_view.h"
#include "tests/app/app_fixture.h"
#include "tests/stream_builder.h"

namespace wl::test {

// Silent MPEG-1 Layer III frames (417 bytes, 44.1 kHz, 128 kbit/s) filling
// exactly `size` bytes; the remainder below one frame is zeros. `mode` 3 is
// single channel.
inline bool WriteSilentMp3(const QString& path, qint64 size, int mode = 0,
                           const std::vector<uint8_t>& tag = {}) {
    const std::vector<uint8_t> frame = SilentFrameMpeg1(mode, 0, 0);
    QByteArray one(reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(frame.size()));
    const qint64 audio = size - static_cast<qint64>(tag.size());
    QByteArray bytes;
    bytes.reserve(size);
    while (bytes.size() + one.size() <= audio) bytes += one;
    bytes += QByteArray(audio - bytes.size(), '\0');
    bytes += QByteArray(reinterpret_cast<const char*>(tag.data()), static_cast<qsizetype>(tag.size()));
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// An ID3v1.1 tag (128 bytes).
inline std::vector<uint8_t> Id3v1Tag(const std::string& title, const std::string& artist, const std::string& album,
                                     const std::string& year, const std::string& comment, uint8_t track,
                                     uint8_t genre) {
    std::vector<uint8_t> tag(128, 0);
    auto put = [&](size_t at, const std::string& text, size_t width) {
        for (size_t i = 0; i < text.size() && i < width; ++i) tag[at + i] = static_cast<uint8_t>(text[i]);
    };
    put(0, "TAG", 3);
    put(3, title, 30);
    put(33, artist, 30);
    put(63, album, 30);
    put(93, year, 4);
    put(97, comment, 28);
    tag[125] = 0;
    tag[126] = track;
    tag[127] = genre;
    return tag;
}

class PlaylistFixture : public AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        setenv("WAVELANTERN_NULL_SPEED", "10", 1);
        Create();
        for (QLabel** label : {&form1->Label2, &form1->Label4, &form1->Label6, &form1->Label8, &form1->Label9}) {
            if (!*label) *label = new QLabel(form1.get());
        }
        form1->Settings.UseCache = 0;
        form1->Settings.RandomPlay = 0;
        form1->Settings.RepeatPlay = 0;
        form1->ApplyPlayOptions();
        Ctl().SetHoldMs(0);  // the state pictures' holds are the controller tests' matter
    }
    void TearDown() override {
        unsetenv("WAVELANTERN_NULL_SPEED");
        AppFixture::TearDown();
    }

    // Column 0: what the grid shows; column 1: the entry's path in the list.
    QString Text(int row, int column = 0) const {
        if (column == 1) return form1->Playlist.Path(row);
        return form1->sg1->model()->index(row, column).data().toString();
    }
    QString GridText(int row, int column) const { return form1->sg1->model()->index(row, column).data().toString(); }
    int GridRows() const { return form1->sg1->model()->rowCount(); }
    QStringList Column(int column) const {
        QStringList texts;
        for (int r = 0; r < GridRows(); ++r) texts.append(Text(r, column));
        return texts;
    }
    void Add(const QStringList& paths) {
        for (const QString& p : paths) form1->AddEntry(p);
    }
    // The grid's current row (-1: none), and making a row current and selected.
    int CurrentRow() const { return form1->sg1->currentIndex().row(); }
    void SelectRow(int row) { form1->sg1->setCurrentIndex(form1->sg1->model()->index(row, 0)); }
    void SelectRows(int first, int last) {
        form1->sg1->clearSelection();
        SelectRow(first);
        const QAbstractItemModel* m = form1->sg1->model();
        form1->sg1->selectionModel()->select(QItemSelection(m->index(first, 0), m->index(last, 1)),
                                             QItemSelectionModel::Select);
    }
};

}  // namespace wl::test
