// The playlist's sorting and tidying for the user (a menu acting on the main
// window's list, telling the outcome in the status line), and the search
// field's behaviour apart from where the field stands.
//
// The playlist panel hooks them up:
//   - the menu: made once and kept, e.g.
//       button->setMenu(MakePlaylistMenu(*this, button));
//     (the missing-file check runs as long as the menu lives);
//   - the search field: a QLineEdit of the panel (hidden until used) and
//       search_ = new TPlaylistSearchBar(field, *playlistSearch,
//           [this](std::optional<std::vector<int>> rows) { /* the grid shows `rows`, or all */ },
//           [this](int row) { Controller->PlayEntry(row + 1); }, this);
//     with search_->Open(typedText) for a key typed in the list, and
//     search_->Open() for Ctrl+F and "J".
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "playback/playlist_model.h"

class QLineEdit;
class QMenu;
class QTimer;
class QWidget;

namespace wl {

class TForm1;
class TPlaylistSearch;

// "12 duplicates", "1 duplicate", "1,204 duplicates".
QString CountText(int count, const QString& one, const QString& many);

// Sorts the list by `key` and says so ("Sorted by title").
void SortPlaylist(TForm1& form, PlaylistModel::TSortKey key);
// Removes the duplicate entries and says how many ("Removed 12 duplicates").
void RemoveDuplicateEntries(TForm1& form);

// Looks for the list's missing files on a worker and removes them, unless
// the list's rows changed meanwhile (then nothing is removed and the status
// line says why). One look at a time; the status line tells the progress and
// the outcome.
class TMissingFilesCheck : public QObject {
    Q_OBJECT
public:
    explicit TMissingFilesCheck(TForm1& form, QObject* parent = nullptr);
    ~TMissingFilesCheck() override;  // stops a look in progress and waits for it

    void Start();
    bool Running() const { return worker_.joinable(); }
    // How a path is found; QFileInfo's look (as MissingRows) unless replaced (tests).
    std::function<bool(const QString&)> Exists;

signals:
    // The look ended: `removed` entries went (-1: the list changed, nothing removed).
    void Finished(int removed);

private:
    void Done(std::vector<int> missing);
    void ShowProgress();

    TForm1& form_;
    std::thread worker_;
    std::atomic<bool> stop_{false};
    std::atomic<int> looked_{0};
    int total_ = 0;
    bool changed_ = false;  // rows added, removed or moved since the start
    QTimer* progressTimer_ = nullptr;
};

// The menu: "Sort by" (Title, Artist, Album, Track number, File name, Path),
// "Remove duplicates", "Remove missing files".
QMenu* MakePlaylistMenu(TForm1& form, QWidget* parent = nullptr);

// The search field: typing filters the list (every keystroke), Enter closes
// the field and plays the first hit, Escape empties and hides the field and
// shows the whole list again. The list's changes are searched anew while it is open.
class TPlaylistSearchBar : public QObject {
    Q_OBJECT
public:
    // The rows to show (ascending), or none given: the whole list.
    using TFilter = std::function<void(std::optional<std::vector<int>> rows)>;
    using TPlay = std::function<void(int row)>;

    // `field` is hidden here until Open; `search` must outlive the bar.
    TPlaylistSearchBar(QLineEdit* field, TPlaylistSearch& search, TFilter filter, TPlay play,
                       QObject* parent = nullptr);

    // Shows and focuses the field with `text` in it (the key that opened it).
    void Open(const QString& text = {});
    // Empties and hides the field; the whole list (filter(nullopt)).
    void Close();
    bool IsOpen() const { return open_; }
    // The rows found for the field's text (empty when it has none).
    const std::vector<int>& Hits() const { return hits_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Search();
    void Enter();

    QLineEdit* field_;
    TPlaylistSearch& search_;
    TFilter filter_;
    TPlay play_;
    bool open_ = false;
    std::vector<int> hits_;
    QTimer* again_ = nullptr;  // searches anew after the list changed
};

}  // namespace wl
