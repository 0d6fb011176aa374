// The playlist panel: the grid, its six action buttons and six scroll
// buttons, the playlist's dialogs, and files dropped on the main window.
#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QMimeData>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <chrono>
#include <exception>
#include <iterator>

#include "app/folder_adder.h"
#include "app/form1.h"
#include "app/playlist_menu.h"
#include "playback/playlist_search.h"
#include "app/playlist_view.h"
#include "app/skin.h"
#include "playback/m3u.h"
#include "playback/cue_sheet.h"
#include "playback/list_loader.h"
#include "playback/playlist_names.h"
#include "playback/station_list.h"
#include "controls/browse_for_folder.h"
#include "controls/find_file.h"

namespace wl {

namespace {

constexpr int kRowHeight = 16;
// The grid: the names' column and the scroll bar beside it; the path column
// lies beyond the visible width.
constexpr int kGridLeft = 20;
constexpr int kGridTop = 20;
constexpr int kScrollBarWidth = 10;
constexpr int kNameColumnWidth = 283;
constexpr int kGridWidth = kNameColumnWidth + kScrollBarWidth;
// The action keys below the grid: seven of them, 3 pixels apart.
constexpr int kActionWidth = 43;
constexpr int kActionStep = 46;
constexpr int kActionGap = 12;  // from the grid's bottom to the keys
// The panel at its smallest holds the smallest list; each row more makes it
// one row taller. The recess around grid and keys ends this far above the
// panel's bottom edge, and the grip lies along that edge.
constexpr int kRecessBottomGap = 31;
constexpr int kGripHeight = 12;

// "4,210": counts in the status line with a thousands separator.
QString CountText(int n) { return QLocale(QLocale::English).toString(n); }
QString FilesText(int n) { return n == 1 ? QStringLiteral("1 file") : CountText(n) + QStringLiteral(" files"); }

// The file dialogs' filters: MP3 files and the list files the player reads.
// "+File" appends songs and station lists; playlists are for Load and Open,
// which replace the list.
const QString kAddFilter = QStringLiteral("mp3, station lists (*.mp3 *.pls *.xspf)");
const QString kListFilter = QStringLiteral("playlists (*.m3u *.m3u8 *.pls *.xspf)");
const QString kOpenFilter =
    QStringLiteral("mp3, playlists (*.mp3 *.m3u *.m3u8 *.pls *.xspf);;mp3 (*.mp3);;playlists (*.m3u *.m3u8 *.pls *.xspf)");

// Keeps the housekeeping tick off while a dialog is open, so that no
// hand-off replaces the list under it. Shared by the dialog's answer: the
// tick runs again once the answer came (or the dialog is gone).
class TimerPause {
public:
    explicit TimerPause(QTimer* timer) : timer_(timer), wasActive_(timer && timer->isActive()) {
        if (timer_) timer_->stop();
    }
    ~TimerPause() { Release(); }
    void Release() {
        if (timer_ && wasActive_) timer_->start();
        wasActive_ = false;
    }
    TimerPause(const TimerPause&) = delete;
    TimerPause& operator=(const TimerPause&) = delete;

private:
    QPointer<QTimer> timer_;
    bool wasActive_;
};

// The name the playlist's dialogs carry, so that quitting can close them.
const QString kListDialog = QStringLiteral("PlaylistDialog");

// Hover texts of the buttons, Enter in the grid, files dropped on the window.
class TPlaylistEvents : public QObject {
public:
    explicit TPlaylistEvents(TForm1* form) : QObject(form), form_(form) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove:
            if (watched == form_) {
                auto* drag = static_cast<QDragMoveEvent*>(event);
                if (drag->mimeData() && drag->mimeData()->hasUrls()) {
                    drag->acceptProposedAction();
                    return true;
                }
            }
            break;
        case QEvent::Drop:
            if (watched == form_) {
                auto* drop = static_cast<QDropEvent*>(event);
                if (!drop->mimeData() || !drop->mimeData()->hasUrls()) break;
                QStringList paths;
                for (const QUrl& url : drop->mimeData()->urls()) {
                    if (url.isLocalFile()) {
                        paths.append(url.toLocalFile());
                    } else if (const QString stream = QString::fromUtf8(url.toEncoded()); IsStreamUrl(stream)) {
                        paths.append(stream);  // a link dragged from a browser
                    }
                }
                drop->acceptProposedAction();
                // The drag source waits for the drop to end; act afterwards.
                QTimer::singleShot(0, form_, [form = form_, paths] { form->DropFiles(paths); });
                return true;
            }
            break;
        case QEvent::Enter: {
            const QVariant text = watched->property("hoverText");
            if (text.isValid()) form_->SetStatus(text.toString());
            break;
        }
        case QEvent::KeyPress: {
            const auto* press = static_cast<QKeyEvent*>(event);
            const int key = press->key();
            if (watched == form_->sg1 && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
                form_->sg1DblClick();
                return true;
            }
            const Qt::KeyboardModifiers mods = press->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
            if ((watched == form_->sg1 || watched == form_) && key == Qt::Key_F && mods == Qt::ControlModifier) {
                form_->OpenSearch();
                return true;
            }
            // Typing in the list searches it; "J" elsewhere in the window opens the field.
            if (watched == form_->sg1 && mods == Qt::NoModifier && !press->text().isEmpty() &&
                press->text().front().isPrint() && !press->text().front().isSpace()) {
                form_->OpenSearch(press->text());
                return true;
            }
            if (watched == form_ && key == Qt::Key_J && mods == Qt::NoModifier) {
                form_->OpenSearch();
                return true;
            }
            // Escape in the grid, or not taken by the widget that had it,
            // ends a folder add.
            if ((watched == form_->sg1 || watched == form_) && key == Qt::Key_Escape && form_->FolderAdding()) {
                form_->CancelFolderAdding();
                return true;
            }
            break;
        }
        case QEvent::Show:
            // The list takes the keys as its panel opens.
            if (watched == form_->Panel19 && form_->sg1) form_->sg1->setFocus();
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    TForm1* form_;
};

}  // namespace

void TForm1::BuildPlaylistPanel() {
    auto* events = new TPlaylistEvents(this);
    ListClock = [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };

    PlaylistTable = new TPlaylistTable(Playlist, this);
    sg1 = new TPlaylistGrid(Panel19);
    sg1->setObjectName(QStringLiteral("sg1"));
    sg1->setModel(PlaylistTable);
    sg1->setItemDelegate(new TPlaylistDelegate(sg1));
    sg1->setGeometry(kGridLeft, kGridTop, kGridWidth, kRowHeight * VisibleRows());
    sg1->setFrameShape(QFrame::NoFrame);
    sg1->horizontalHeader()->hide();
    sg1->verticalHeader()->hide();
    sg1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    sg1->verticalHeader()->setMinimumSectionSize(kRowHeight);
    sg1->verticalHeader()->setDefaultSectionSize(kRowHeight);
    sg1->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    sg1->setColumnWidth(0, kNameColumnWidth);
    sg1->setColumnWidth(1, 400);  // beyond the visible area
    sg1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    sg1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    sg1->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    sg1->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    sg1->setSelectionBehavior(QAbstractItemView::SelectRows);
    sg1->setSelectionMode(QAbstractItemView::ContiguousSelection);
    sg1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    sg1->setShowGrid(false);
    sg1->setWordWrap(false);
    sg1->setAutoScroll(false);
    sg1->setTextElideMode(Qt::ElideRight);
    sg1->setStyleSheet(QStringLiteral("QTableView { background: black; color: #428AAA; selection-background-color: #22384A;"
                                      " selection-color: #9CC8E0; font-size: 11px; }") +
                       SkinScrollBarStyle(kScrollBarWidth));
    sg1->installEventFilter(events);
    Panel19->installEventFilter(events);
    Panel19->setProperty(kRecessBottomMargin, kRecessBottomGap);
    connect(sg1, &QTableView::doubleClicked, this, [this](const QModelIndex&) { sg1DblClick(); });
    connect(sg1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& now, const QModelIndex& before) {
                if (now.row() != before.row()) ShowSelectedEntry();
            });
    connect(sg1->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int) { UpdateScrollButtons(); });
    connect(sg1, &TPlaylistGrid::UserMoved, this, [this] { NoteListMoved(); });

    // Sorting and tidying.
    PlaylistMenu = MakePlaylistMenu(*this, this);
    sg1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(sg1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PlaylistMenu->popup(sg1->viewport()->mapToGlobal(at)); });

    // The search field stands over the action keys while it is open.
    PlaylistSearch = new TPlaylistSearch(Playlist, this);
    SearchField = new QLineEdit(Panel19);
    SearchField->setObjectName(QStringLiteral("SearchField"));
    SearchField->setPlaceholderText(QStringLiteral("Find: title, artist, album or file name"));
    SearchField->setClearButtonEnabled(true);
    SearchField->setStyleSheet(QStringLiteral(
        "QLineEdit { background: #0B0E16; color: #9CC8E0; border: 1px solid #6A9AC0; border-radius: 2px;"
        " font-size: 11px; padding: 0 4px; selection-background-color: #22384A; }"));
    SearchBar = new TPlaylistSearchBar(
        SearchField, *PlaylistSearch,
        [this](std::optional<std::vector<int>> rows) {
            if (rows) {
                if (!PlaylistTable->Filtered()) searchTopRow_ = TopRow();
                PlaylistTable->SetFilter(std::move(rows));
                SetTopRow(0);
                if (PlaylistTable->rowCount() > 0)
                    sg1->setCurrentIndex(PlaylistTable->index(0, 0));
            } else if (PlaylistTable->Filtered()) {
                PlaylistTable->SetFilter(std::nullopt);
                SetTopRow(searchTopRow_);  // the whole list where it was
            }
            UpdateScrollButtons();
        },
        [this](int row) {
            EntryCount = Playlist.Rows();
            Controller->PlayEntry(row + 1);
        },
        this);

    struct Action {
        const char* caption;
        const char* hover;
        void (TForm1::*click)();
    };
    // In the row's order; "+URL" has no place among the six numbered keys.
    static const Action actions[] = {
        {"+Dir", "Add directory", &TForm1::SpeedButton22Click},
        {"+File", "Add file(s)", &TForm1::SpeedButton23Click},
        {"+URL", "Add a stream or station URL", &TForm1::UrlButtonClick},
        {"-File", "Delete file(s)", &TForm1::SpeedButton24Click},
        {"-All", "Clear list", &TForm1::SpeedButton25Click},
        {"Load", "Load playlist", &TForm1::SpeedButton26Click},
        {"Save", "Save playlist", &TForm1::SpeedButton27Click},
    };
    constexpr int kActions = static_cast<int>(std::size(actions));
    // Keys in the grid's colours; the move keys' arrows larger and bold, so
    // that they read at a glance, and still visible when they cannot move.
    const QString keyStyle = QStringLiteral(
        "QToolButton { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #1e2838, stop:1 #0b0e16);"
        " color: #9CC8E0; border: 1px solid #2E4A64; border-radius: 2px; font-size: %1px; font-weight: %2; }"
        " QToolButton:hover { border-color: #6A9AC0; color: #FFFFFF; }"
        " QToolButton:pressed { background: #0B0E16; }"
        " QToolButton:disabled { color: #3A5670; border-color: #1C2A3A; }");
    const QString buttonStyle = keyStyle.arg(10).arg(QStringLiteral("normal"));
    const QString arrowStyle = keyStyle.arg(13).arg(QStringLiteral("bold"));
    // The row spans the grid and its scroll keys (x 20 .. 341), below the
    // grid (LayOutPlaylistPanel places it).
    for (int i = 0; i < kActions; ++i) {
        auto* button = new QToolButton(Panel19);
        button->setText(QString::fromLatin1(actions[i].caption));
        button->setProperty("hoverText", QString::fromLatin1(actions[i].hover));
        button->resize(kActionWidth, 20);
        button->setStyleSheet(buttonStyle);
        button->installEventFilter(events);
        connect(button, &QToolButton::clicked, this, [this, click = actions[i].click] { (this->*click)(); });
        if (actions[i].click == &TForm1::UrlButtonClick) {
            button->setObjectName(QStringLiteral("UrlButton"));
            UrlButton = button;
        } else {
            const int key = i < 2 ? i : i - 1;
            button->setObjectName(QStringLiteral("SpeedButton%1").arg(22 + key));
            PlaylistButtons[key] = button;
        }
    }
    static const char* const arrows[] = {"\u2912", "\u21C8", "\u2191", "\u2193", "\u21CA", "\u2913"};
    for (int i = 0; i < 6; ++i) {
        auto* button = new QToolButton(Panel19);
        button->setObjectName(QStringLiteral("SpeedButton%1").arg(28 + i));
        button->setText(QString::fromUtf8(arrows[i]));
        button->setGeometry(kGridLeft + kGridWidth + 4, kGridTop + i * kRowHeight, 24, kRowHeight);
        button->setStyleSheet(arrowStyle);
        button->setAutoRepeat(i == 2 || i == 3);
        connect(button, &QToolButton::clicked, this, [this, i] { ScrollButtonClick(28 + i); });
        PlaylistButtons[6 + i] = button;
    }

    // The grip along the panel's bottom edge: the list grows and shrinks by
    // whole rows as it is dragged.
    rowsGrip_ = new TRowsGrip(Panel19);
    rowsGrip_->setObjectName(QStringLiteral("PlaylistGrip"));
    rowsGrip_->setProperty("hoverText", QStringLiteral("Drag to resize the list"));
    rowsGrip_->installEventFilter(events);
    connect(rowsGrip_, &TRowsGrip::DragStarted, this, [this] { gripRows_ = VisibleRows(); });
    connect(rowsGrip_, &TRowsGrip::Dragged, this, [this](int dy) {
        const int rows = gripRows_ + (dy >= 0 ? (dy + kRowHeight / 2) / kRowHeight : -((-dy + kRowHeight / 2) / kRowHeight));
        if (std::clamp(rows, TExtraSettings::kMinPlaylistRows, TExtraSettings::kMaxPlaylistRows) != VisibleRows()) {
            SetPlaylistRows(rows);
        }
    });

    bf = new TBrowseForFolder(this);
    bf->SetCaption(QStringLiteral("Select Folder"));
    bf->SetStatusText(QStringLiteral("[Recursive search]"));
    bf->SetFlags(bf_statustext | bf_ReturnOnlyFSDIRS);

    FolderAdder = new TFolderAdder(this);
    connect(FolderAdder, &TFolderAdder::Batch, this,
            [this](const std::vector<TPlaylistEntry>& entries, int files) { FolderBatch(entries, files); });
    connect(FolderAdder, &TFolderAdder::Finished, this,
            [this](bool cancelled, const QString& error, const QStringList& notices) {
                FolderAddingEnded(cancelled, error, notices);
            });
    // A list replaced or cleared meanwhile takes no more of the folder.
    connect(&Playlist, &PlaylistModel::Cleared, this, [this] {
        if (FolderAdding()) CancelFolderAdding();
    });

    // Files dragged from the desktop onto the window.
    setAcceptDrops(true);
    installEventFilter(events);

    InstallDialogs();
    HookPlaylist();
    LayOutPlaylistPanel();
}

void TForm1::LayOutPlaylistPanel() {
    if (!sg1 || !Panel19) return;
    const int rows = VisibleRows();
    const int gridHeight = rows * kRowHeight;
    sg1->setGeometry(kGridLeft, kGridTop, kGridWidth, gridHeight);
    // The action keys in the row's order.
    QToolButton* const row[] = {PlaylistButtons[0], PlaylistButtons[1], UrlButton, PlaylistButtons[2],
                                PlaylistButtons[3], PlaylistButtons[4], PlaylistButtons[5]};
    for (int i = 0; i < static_cast<int>(std::size(row)); ++i) {
        if (row[i]) row[i]->move(kGridLeft + i * kActionStep, kGridTop + gridHeight + kActionGap);
    }
    if (SearchField) {
        SearchField->setGeometry(kGridLeft, kGridTop + gridHeight + kActionGap, static_cast<int>(std::size(row)) * kActionStep - 3, 20);
        SearchField->raise();
    }
    const int height = kPanelHeight + (rows - TExtraSettings::kMinPlaylistRows) * kRowHeight;
    Panel19->resize(kWindowWidth, height);
    if (rowsGrip_) rowsGrip_->setGeometry(0, height - kGripHeight, kWindowWidth, kGripHeight);
    SetPanelSkin(Panel19, QRect(14, 14, 342, 138), devicePixelRatioF());
    if (!Panel19->isHidden()) {
        setFixedSize(kWindowWidth, kPanelHeight + height);
        KeepOnScreen();
    }
    SetTopRow(TopRow());  // within the new range
    UpdateScrollButtons();
}

void TForm1::OpenSearch(const QString& text) {
    if (!SearchBar) return;
    if (Panel19 && Panel19->isHidden()) TogglePanel(Panel19);
    SearchBar->Open(text);
}

void TForm1::SetPlaylistRows(int rows) {
    Extra.PlaylistRows = std::clamp(rows, TExtraSettings::kMinPlaylistRows, TExtraSettings::kMaxPlaylistRows);
    LayOutPlaylistPanel();
}

int TForm1::CurrentListRow() const {
    if (!sg1 || !PlaylistTable) return -1;
    const QModelIndex current = sg1->currentIndex();
    return current.isValid() ? PlaylistTable->ModelRow(current.row()) : -1;
}

void TForm1::SelectListRow(int row) {
    if (!sg1 || !PlaylistTable) return;
    const int shown = PlaylistTable->ViewRow(row);
    if (shown < 0) return;
    sg1->selectionModel()->setCurrentIndex(PlaylistTable->index(shown, 0),
                                           QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void TForm1::NoteListMoved() { listMovedMs_ = ListClock(); }

bool TForm1::FollowsPlaying() const { return !listMovedMs_ || ListClock() - *listMovedMs_ >= kFollowPauseMs; }

void TForm1::RouteDropsToWindow() {
    // Edits and the priority box would paste a dropped file's path; the
    // playlist is where dropped files belong.
    for (QWidget* child : findChildren<QWidget*>()) child->setAcceptDrops(false);
    setAcceptDrops(true);
}

void TForm1::InstallDialogs() {
    // Each dialog deletes itself once closed; its answer comes exactly once.
    const auto openFiles = [this](const QString& caption, const QString& filter, QFileDialog::AcceptMode mode) {
        auto* dialog = new QFileDialog(this, caption, QDir::currentPath(), filter);
        dialog->setObjectName(kListDialog);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setAcceptMode(mode);
        return dialog;
    };
    RunOpenDialog = [openFiles](const QString& caption, const QString& filter, bool multiple, TFilesAnswer answer) {
        QFileDialog* dialog = openFiles(caption, filter, QFileDialog::AcceptOpen);
        dialog->setFileMode(multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
        connect(dialog, &QDialog::finished, dialog, [dialog, answer = std::move(answer)](int result) {
            answer(result == QDialog::Accepted ? dialog->selectedFiles() : QStringList());
        });
        dialog->open();
    };
    RunSaveDialog = [openFiles](const QString& caption, const QString& fileName, const QString& filter, TPathAnswer answer) {
        QFileDialog* dialog = openFiles(caption, filter, QFileDialog::AcceptSave);
        dialog->setDefaultSuffix(QStringLiteral("m3u"));
        // The replace question is asked by the playlist itself.
        dialog->setOption(QFileDialog::DontConfirmOverwrite, true);
        dialog->selectFile(fileName);
        connect(dialog, &QDialog::finished, dialog, [dialog, answer = std::move(answer)](int result) {
            const QStringList files = dialog->selectedFiles();
            answer(result == QDialog::Accepted && !files.isEmpty() ? files.front() : QString());
        });
        dialog->open();
    };
    AskReplace = [this](const QString& text, TYesAnswer answer) {
        auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Replace?"), text,
                                    QMessageBox::Yes | QMessageBox::No, this);
        box->setObjectName(kListDialog);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setDefaultButton(QMessageBox::No);
        connect(box, &QMessageBox::finished, box, [box, answer = std::move(answer)] {
            answer(box->standardButton(box->clickedButton()) == QMessageBox::Yes);
        });
        box->open();
    };
}

void TForm1::CloseListDialogs() {
    if (bf) bf->Cancel();
    if (clearQuestion_ && clearQuestion_->isVisible()) clearQuestion_->reject();
    // (One closed but not yet deleted has answered already.)
    for (QDialog* dialog : findChildren<QDialog*>(kListDialog)) {
        if (dialog->isVisible()) dialog->reject();
    }
}

// --------------------------------------------------------------- the buttons

void TForm1::SpeedButton22Click() {
    // Pressed again while a folder is being added: that add ends.
    if (FolderAdding()) {
        CancelFolderAdding();
        return;
    }
    auto pause = std::make_shared<TimerPause>(Timer4);
    bf->SetFolderName(Extra.LastFolder.isEmpty() ? QDir::homePath() : Extra.LastFolder);
    // The picker opens again where it was closed, chosen or cancelled (kept
    // in the conf file across starts).
    bf->Execute([this, pause](bool chosen) {
        pause->Release();
        Extra.LastFolder = chosen ? bf->FolderName() : bf->BrowsedFolder();
        if (chosen && !quitting_) AddFolderTree(Extra.LastFolder);
    });
}

void TForm1::AddFolderTree(const QString& folder) {
    if (FolderAdding()) {
        ShowError(QStringLiteral("Still adding a folder: ") + folder + QStringLiteral(" was not added"));
        return;
    }
    addRowsBefore_ = RowsBeforeAdding();
    addFiles_ = 0;
    addNotices_.clear();
    FolderAdder->Start(folder, Extra.SheetsInFolders, Playlist.CueCodePage);
    SetStatus(QStringLiteral("Adding\u2026"));
}

bool TForm1::FolderAdding() const { return FolderAdder && FolderAdder->Busy(); }

void TForm1::CancelFolderAdding() {
    if (FolderAdder) FolderAdder->Cancel();
}

void TForm1::FolderBatch(const std::vector<TPlaylistEntry>& entries, int files) {
    const bool wasEmpty = PlaylistEmpty();
    int notPlayable = 0;
    const int added = Playlist.AddEntries(entries, &notPlayable);
    addFiles_ += files;
    if (added + notPlayable < static_cast<int>(entries.size())) {
        // The list is full (the list said so): nothing more is looked for.
        FolderAdder->Cancel();
        return;
    }
    // A list that was empty plays as soon as it has something.
    if (wasEmpty && added > 0 && addRowsBefore_ == 0) StartFirstEntry();
    ShowEntryCounter();
    UpdateScrollButtons();
    SetStatus(QStringLiteral("Adding\u2026 ") + FilesText(addFiles_));
}

void TForm1::FolderAddingEnded(bool cancelled, const QString& error, const QStringList& notices) {
    const bool full = Playlist.Rows() >= Playlist.Capacity;
    if (addRowsBefore_ > 0 && FollowsPlaying()) {
        FinishAdding(addRowsBefore_);  // the last old row shown at the top
    } else {
        UpdateScrollButtons();
        ShowEntryCounter();
    }
    if (full || cancelled) pendingFolders_.clear();
    if (full) return;  // the list told why it took no more
    addNotices_ += notices;
    if (!error.isEmpty()) addNotices_.append(error);
    if (!pendingFolders_.isEmpty()) {  // the next dropped folder, counted on
        FolderAdder->Start(pendingFolders_.takeFirst(), Extra.SheetsInFolders, Playlist.CueCodePage);
        return;
    }
    if (cancelled) {
        SetStatus(QStringLiteral("Adding cancelled: ") + FilesText(addFiles_) + QStringLiteral(" added"));
    } else if (!addNotices_.isEmpty()) {
        ShowError(QStringLiteral("Added ") + FilesText(addFiles_) + QStringLiteral(". ") + addNotices_.join(QStringLiteral("; ")));
    } else {
        SetStatus(addFiles_ == 0 ? QStringLiteral("No MP3 files found") : QStringLiteral("Added ") + FilesText(addFiles_));
    }
}

void TForm1::SpeedButton23Click() {
    auto pause = std::make_shared<TimerPause>(Timer4);
    RunOpenDialog(QStringLiteral("Add files"), kAddFilter, true, [this, pause](const QStringList& files) {
        pause->Release();
        if (files.isEmpty() || quitting_) return;
        const int before = RowsBeforeAdding();
        for (const QString& file : files) {
            if (IsMp3Path(file)) {
                AddEntry(file);
            } else if (IsListFilePath(file) && !IsPlaylistPath(file)) {
                ReadList(file);  // its stations (or a sheet's tracks) appended
            }
        }
        FinishAdding(before);
    });
}

void TForm1::UrlButtonClick() {
    // One dialog at a time: another click brings it forward.
    if (auto* open = findChild<QInputDialog*>(QStringLiteral("UrlDialog"))) {
        open->raise();
        open->activateWindow();
        return;
    }
    auto* dialog = new QInputDialog(this);
    dialog->setObjectName(QStringLiteral("UrlDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Add a stream"));
    dialog->setLabelText(QStringLiteral("Stream or station list URL (http:// or https://):"));
    dialog->setInputMode(QInputDialog::TextInput);
    dialog->setMinimumWidth(360);
    connect(dialog, &QInputDialog::textValueSelected, this, [this](const QString& text) { AddStreamUrl(text); });
    dialog->open();
}

bool TForm1::AddStreamUrl(const QString& text) {
    const QString url = text.trimmed();
    if (const QString problem = StreamUrlProblem(url); !problem.isEmpty()) {
        ShowError(problem);
        return false;
    }
    const int before = RowsBeforeAdding();
    if (!Playlist.AddEntry(url)) {
        ShowError(QStringLiteral("The playlist is full (%1 entries): the URL was not added").arg(Playlist.Capacity));
        return false;
    }
    ShowEntryCounter();
    Controller->PlayEntry(before + 1);
    return true;
}

void TForm1::SpeedButton24Click() { RemoveSelectedRows(); }

// A list of more than a few entries is cleared only once the user agreed
// (the question is opened, not run; its answer acts).
void TForm1::SpeedButton25Click() {
    if (PlaylistEmpty() || Playlist.Rows() <= kClearAskAbove) {
        ClearListNow();
        return;
    }
    if (clearQuestion_) {
        clearQuestion_->raise();
        clearQuestion_->activateWindow();
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Question, QStringLiteral("Clear list"),
                                QStringLiteral("Remove all %1 entries from the playlist?\nThis cannot be undone.")
                                    .arg(CountText(Playlist.Rows())),
                                QMessageBox::Yes | QMessageBox::No, this);
    box->setObjectName(QStringLiteral("ClearListQuestion"));
    box->setDefaultButton(QMessageBox::No);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [this, box] {
        if (box->standardButton(box->clickedButton()) == QMessageBox::Yes) ClearListNow();
    });
    clearQuestion_ = box;
    box->open();
}

void TForm1::ClearListNow() {
    EntryCount = 0;
    CurrentEntry = 0;
    ClearPlaylist();
    ShowEntryCounter();
    // With nothing playing, nothing of the cleared list stays on show: the
    // banner takes the title strip and the tag panel empties.
    if (Controller->State() == TPlayState::Stopped) {
        DrawBanner();
        ShowArtOf({});
        for (QLineEdit* edit : {Edit1, Edit2, Edit3, Edit4, Edit5, Edit6, Edit7, Edit8}) {
            if (edit) edit->clear();
        }
    }
}

void TForm1::SpeedButton26Click() {
    auto pause = std::make_shared<TimerPause>(Timer4);
    RunOpenDialog(QStringLiteral("Open a playlist"), kListFilter, false, [this, pause](const QStringList& files) {
        pause->Release();
        if (!files.isEmpty() && !quitting_) OpenChosenFiles(files);
    });
}

void TForm1::SpeedButton27Click() {
    auto pause = std::make_shared<TimerPause>(Timer4);
    RunSaveDialog(QStringLiteral("Save current playlist as"), QStringLiteral("wl.m3u"), QStringLiteral("m3u (*.m3u *.m3u8)"),
                  [this, pause](const QString& path) {
                      if (path.isEmpty() || quitting_) return pause->Release();
                      if (Playlist.Loader().Busy()) {
                          ShowError(QStringLiteral("Not saved: the playlist is still being read"));
                          return pause->Release();
                      }
                      SaveDefaultPlaylist();
                      if (!QFileInfo::exists(path)) {
                          pause->Release();
                          SavePlaylistAs(path);
                          return;
                      }
                      // The tick stays off until the question is answered.
                      AskReplace(path + QStringLiteral(" already exists!\n\rDo you want to replace it?"),
                                 [this, path, pause](bool yes) {
                                     pause->Release();
                                     if (!yes || quitting_) return;
                                     QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::WriteOwner);
                                     SavePlaylistAs(path);
                                 });
                  });
}

void TForm1::SavePlaylistAs(const QString& path) {
    if (Playlist.Loader().Busy()) {
        ShowError(QStringLiteral("Not saved: the playlist is still being read"));
        return;
    }
    // Written for its own folder (files below it relative, others absolute),
    // replacing the old file only once all is written.
    QString why;
    if (!WriteFileAtomically(path, EncodePlaylistFor(Playlist.Entries(), QFileInfo(path).absolutePath()), &why))
        ShowError("Cannot save " + QFileInfo(path).fileName() + ": " + why);
}

void TForm1::Image13Click() {
    auto pause = std::make_shared<TimerPause>(Timer4);
    RunOpenDialog(QString(), kOpenFilter, true, [this, pause](const QStringList& files) {
        pause->Release();
        if (!files.isEmpty() && !quitting_) OpenChosenFiles(files);
    });
}

// One list file replaces the list (read on a worker, the first entry playing
// once it is in); songs replace it and the first plays.
void TForm1::OpenChosenFiles(const QStringList& files) {
    if (files.size() == 1 && IsListFilePath(files.front())) {
        Playlist.Loader().Start(files.front(), TListKind::Any, TLoadMode::Replace, TListLoader::StartOnce([this] {
            if (!quitting_) StartFirstEntry();
        }, Controller->Options().Random));
        return;
    }
    ClearPlaylist();
    for (const QString& file : files) {
        if (IsMp3Path(file)) AddEntry(file);
    }
    StartFirstEntry();
}

// The keys beside the grid: to the top, a page up, a row up, a row down, a
// page down, to the end (a page: the rows shown but one).
void TForm1::ScrollButtonClick(int button) {
    if (!sg1) return;
    NoteListMoved();
    const int rows = PlaylistTable->rowCount();
    const int shown = VisibleRows();
    const int top = TopRow();
    const bool canGoDown = rows > shown && top < rows - shown;
    switch (button) {
    case 28: SetTopRow(0); break;
    case 29: SetTopRow(std::max(0, top - (shown - 1))); break;
    case 30:
        if (top > 0) SetTopRow(top - 1);
        break;
    case 31:
        if (canGoDown) SetTopRow(top + 1);
        break;
    case 32:
        if (canGoDown) SetTopRow(rows - top - (2 * shown - 1) < 0 ? rows - shown : top + shown - 1);
        break;
    case 33:
        if (canGoDown) SetTopRow(rows - shown);
        break;
    default: return;
    }
    UpdateScrollButtons();
}

void TForm1::sg1DblClick() {
    // An empty list has nothing to play.
    if (!sg1 || PlaylistEmpty()) return;
    const int row = CurrentListRow();
    if (row < 0 || row >= Playlist.Rows()) return;
    EntryCount = Playlist.Rows();
    Controller->PlayEntry(row + 1);  // marked as played in a random round
}

}  // namespace wl
