#include "app/playlist_menu.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QTimer>

#include <utility>

#include "app/form1.h"
#include "playback/playlist_search.h"

namespace wl {

QString CountText(int count, const QString& one, const QString& many) {
    return QStringLiteral("%1 %2").arg(QLocale(QLocale::English).toString(count), count == 1 ? one : many);
}

namespace {

QString KeyName(PlaylistModel::TSortKey key) {
    using K = PlaylistModel::TSortKey;
    switch (key) {
    case K::Title: return QStringLiteral("title");
    case K::Artist: return QStringLiteral("artist");
    case K::Album: return QStringLiteral("album");
    case K::Track: return QStringLiteral("track number");
    case K::FileName: return QStringLiteral("file name");
    case K::Path: return QStringLiteral("path");
    }
    return {};
}

}  // namespace

void SortPlaylist(TForm1& form, PlaylistModel::TSortKey key) {
    if (form.Playlist.Empty()) {
        form.SetStatus(QStringLiteral("The playlist is empty"));
        return;
    }
    const int moved = form.Playlist.Sort(key);
    form.SetStatus(moved > 0 ? QStringLiteral("Sorted by ") + KeyName(key)
                             : QStringLiteral("Already sorted by ") + KeyName(key));
}

void RemoveDuplicateEntries(TForm1& form) {
    const int removed = form.Playlist.RemoveDuplicates();
    form.SetStatus(removed > 0 ? QStringLiteral("Removed ") + CountText(removed, "duplicate", "duplicates")
                               : QStringLiteral("No duplicates"));
}

// ------------------------------------------------------------ missing files

TMissingFilesCheck::TMissingFilesCheck(TForm1& form, QObject* parent) : QObject(parent), form_(form) {
    progressTimer_ = new QTimer(this);
    progressTimer_->setInterval(250);
    connect(progressTimer_, &QTimer::timeout, this, &TMissingFilesCheck::ShowProgress);
    // Rows that come, go or move make the rows looked at name other entries;
    // texts changing (titles from tags) do not.
    auto changed = [this] { changed_ = true; };
    connect(&form.Playlist, &PlaylistModel::Added, this, changed);
    connect(&form.Playlist, &PlaylistModel::Removed, this, changed);
    connect(&form.Playlist, &PlaylistModel::Cleared, this, changed);
    connect(&form.Playlist, &PlaylistModel::Reordered, this, changed);
}

TMissingFilesCheck::~TMissingFilesCheck() {
    stop_ = true;
    if (worker_.joinable()) worker_.join();
}

void TMissingFilesCheck::Start() {
    if (Running()) {
        form_.SetStatus(QStringLiteral("Still looking for missing files\u2026"));
        return;
    }
    if (form_.Playlist.Empty()) {
        form_.SetStatus(QStringLiteral("The playlist is empty"));
        return;
    }
    const QStringList paths = form_.Playlist.Paths();
    total_ = static_cast<int>(paths.size());
    changed_ = false;
    stop_ = false;
    looked_ = 0;
    ShowProgress();
    progressTimer_->start();
    worker_ = std::thread([this, paths, exists = Exists] {
        std::vector<int> missing = PlaylistModel::MissingRows(paths, exists, [this](int looked) {
            looked_ = looked;
            return stop_.load();
        });
        if (stop_) return;
        // Posted to this object; its destructor joins this thread first, so
        // the call is delivered, or dropped with the object.
        QMetaObject::invokeMethod(
            this, [this, missing = std::move(missing)]() mutable { Done(std::move(missing)); }, Qt::QueuedConnection);
    });
}

void TMissingFilesCheck::ShowProgress() {
    form_.SetStatus(QStringLiteral("Looking for missing files\u2026 %1 of %2")
                        .arg(QLocale(QLocale::English).toString(looked_.load()),
                             QLocale(QLocale::English).toString(total_)));
}

void TMissingFilesCheck::Done(std::vector<int> missing) {
    progressTimer_->stop();
    if (worker_.joinable()) worker_.join();
    int removed = -1;
    if (changed_) {
        form_.SetStatus(QStringLiteral("The playlist changed while its files were looked for: nothing removed"));
    } else {
        removed = form_.Playlist.RemoveRowsAt(missing);
        form_.SetStatus(removed > 0 ? QStringLiteral("Removed ") + CountText(removed, "missing file", "missing files")
                                    : QStringLiteral("No missing files"));
    }
    emit Finished(removed);
}

// --------------------------------------------------------------------- menu

QMenu* MakePlaylistMenu(TForm1& form, QWidget* parent) {
    using K = PlaylistModel::TSortKey;
    auto* menu = new QMenu(parent);
    QMenu* sortMenu = menu->addMenu(QStringLiteral("Sort by"));
    const std::pair<const char*, K> keys[] = {{"Title", K::Title},         {"Artist", K::Artist},
                                              {"Album", K::Album},         {"Track number", K::Track},
                                              {"File name", K::FileName}, {"Path", K::Path}};
    for (const auto& [text, key] : keys)
        sortMenu->addAction(QString::fromLatin1(text), menu, [&form, key = key] { SortPlaylist(form, key); });
    menu->addAction(QStringLiteral("Remove duplicates"), menu, [&form] { RemoveDuplicateEntries(form); });
    auto* check = new TMissingFilesCheck(form, menu);
    check->setObjectName(QStringLiteral("missingFilesCheck"));
    menu->addAction(QStringLiteral("Remove missing files"), check, &TMissingFilesCheck::Start);
    return menu;
}

// --------------------------------------------------------------- search bar

TPlaylistSearchBar::TPlaylistSearchBar(QLineEdit* field, TPlaylistSearch& search, TFilter filter, TPlay play,
                                       QObject* parent)
    : QObject(parent), field_(field), search_(search), filter_(std::move(filter)), play_(std::move(play)) {
    field_->hide();
    field_->installEventFilter(this);
    connect(field_, &QLineEdit::textChanged, this, [this] {
        if (open_) Search();
    });
    connect(field_, &QLineEdit::returnPressed, this, &TPlaylistSearchBar::Enter);
    again_ = new QTimer(this);
    again_->setSingleShot(true);
    connect(again_, &QTimer::timeout, this, [this] {
        if (open_) Search();
    });
    // Rows that moved are shown anew at once; texts changing (titles coming
    // in from the tags) are gathered for a quarter of a second.
    connect(&search_, &TPlaylistSearch::IndexChanged, this, [this](bool rowsMoved) {
        if (!open_) return;
        if (rowsMoved) {
            again_->start(0);
        } else if (!again_->isActive()) {
            again_->start(250);
        }
    });
}

void TPlaylistSearchBar::Open(const QString& text) {
    open_ = true;
    field_->show();
    field_->setFocus(Qt::ShortcutFocusReason);
    if (field_->text() == text) {
        Search();
    } else {
        field_->setText(text);  // searches
    }
}

void TPlaylistSearchBar::Close() {
    const bool wasOpen = open_;
    open_ = false;
    again_->stop();
    hits_.clear();
    field_->clear();
    field_->hide();
    if (wasOpen && filter_) filter_(std::nullopt);
}

void TPlaylistSearchBar::Search() {
    const QString text = field_->text();
    if (text.trimmed().isEmpty()) {
        hits_.clear();
        if (filter_) filter_(std::nullopt);
        return;
    }
    hits_ = search_.Find(text);
    if (filter_) filter_(hits_);
}

void TPlaylistSearchBar::Enter() {
    if (!open_ || hits_.empty()) return;
    const int row = hits_.front();
    Close();
    if (play_) play_(row);
}

bool TPlaylistSearchBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == field_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        Close();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace wl
