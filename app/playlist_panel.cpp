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
#include <QMessageBox>
#include <QMimeData>
#include <QScrollBar>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <exception>
#include <iterator>

#include "app/form1.h"
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
constexpr int kVisibleRows = 6;
constexpr int kNameColumnWidth = 293;
// The action keys below the grid: seven of them, 3 pixels apart.
constexpr int kActionWidth = 43;
constexpr int kActionStep = 46;

// The file dialogs' filters: MP3 files and the list files the player reads.
// "+File" appends station lists, whose relative entries are resolved as they
// are read, but no ".m3u" (its relative entries need its folder as the
// current one).
const QString kAddFilter = QStringLiteral("mp3, station lists (*.mp3 *.pls *.xspf)");
const QString kListFilter = QStringLiteral("playlists (*.m3u *.m3u8 *.pls *.xspf)");
const QString kOpenFilter =
    QStringLiteral("mp3, playlists (*.mp3 *.m3u *.m3u8 *.pls *.xspf);;mp3 (*.mp3);;playlists (*.m3u *.m3u8 *.pls *.xspf)");

// Keeps the housekeeping tick off while a dialog or a search runs, so that
// no hand-off or end-of-entry advance happens in between.
class TimerPause {
public:
    explicit TimerPause(QTimer* timer) : timer_(timer), wasActive_(timer && timer->isActive()) {
        if (timer_) timer_->stop();
    }
    ~TimerPause() {
        if (timer_ && wasActive_) timer_->start();
    }
    TimerPause(const TimerPause&) = delete;
    TimerPause& operator=(const TimerPause&) = delete;

private:
    QTimer* timer_;
    bool wasActive_;
};

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
        case QEvent::KeyPress:
            if (watched == form_->sg1) {
                const int key = static_cast<QKeyEvent*>(event)->key();
                if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                    form_->sg1DblClick();
                    return true;
                }
            }
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

    sg1 = new QTableWidget(1, 2, Panel19);
    sg1->setObjectName(QStringLiteral("sg1"));
    sg1->setGeometry(20, 20, kNameColumnWidth, kRowHeight * kVisibleRows);
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
    sg1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    sg1->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    sg1->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    sg1->setSelectionBehavior(QAbstractItemView::SelectRows);
    sg1->setSelectionMode(QAbstractItemView::ContiguousSelection);
    sg1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    sg1->setShowGrid(false);
    sg1->setWordWrap(false);
    sg1->setAutoScroll(false);
    sg1->setTextElideMode(Qt::ElideNone);
    sg1->setStyleSheet(QStringLiteral(
        "QTableWidget { background: black; color: #428AAA; selection-background-color: #22384A;"
        " selection-color: #9CC8E0; font-size: 11px; }"));
    sg1->installEventFilter(events);
    connect(sg1, &QTableWidget::cellDoubleClicked, this, [this](int, int) { sg1DblClick(); });
    connect(sg1, &QTableWidget::currentCellChanged, this, [this](int row, int, int previous, int) {
        if (row != previous) ShowSelectedEntry();
    });
    connect(sg1->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int) { UpdateScrollButtons(); });

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
    // The row spans the grid and its scroll keys (x 20 .. 341).
    for (int i = 0; i < kActions; ++i) {
        auto* button = new QToolButton(Panel19);
        button->setText(QString::fromLatin1(actions[i].caption));
        button->setProperty("hoverText", QString::fromLatin1(actions[i].hover));
        button->setGeometry(20 + i * kActionStep, 128, kActionWidth, 20);
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
        button->setGeometry(20 + kNameColumnWidth + 4, 20 + i * kRowHeight, 24, kRowHeight);
        button->setStyleSheet(arrowStyle);
        button->setAutoRepeat(i == 2 || i == 3);
        connect(button, &QToolButton::clicked, this, [this, i] { ScrollButtonClick(28 + i); });
        PlaylistButtons[6 + i] = button;
    }

    bf = new TBrowseForFolder(this);
    bf->SetCaption(QStringLiteral("Select Folder"));
    bf->SetStatusText(QStringLiteral("[Recursive search]"));
    bf->SetFlags(bf_statustext | bf_ReturnOnlyFSDIRS);
    // The picker opens again where it was closed, chosen or cancelled.
    bf->SetDialogRunner([this](QFileDialog& dialog) {
        const bool chosen = dialog.exec() == QDialog::Accepted;
        if (!chosen) browseFolder_ = dialog.directory().absolutePath();
        return chosen;
    });

    FindFile1 = new TFindFile(this);
    FindFile1->SetFilename("*.mp3");
    FindFile1->SetSubfolders(true);
    FindFile1->SetThreaded(true);
    FindFile1->OnFound = [this](TFindFile*, const std::string& folder, const TSearchRec& file) {
        const QString path = JoinPath(QFile::decodeName(QByteArray::fromStdString(folder)),
                                      QFile::decodeName(QByteArray::fromStdString(file.Name)));
        // An album file with its sheet beside it adds the sheet's tracks.
        const QString sheet = Extra.SheetsInFolders ? CueSheetFor(path) : QString();
        if (sheet.isEmpty()) {
            AddEntry(path);
        } else {
            ReadList(sheet);
        }
    };

    // Files dragged from the desktop onto the window.
    setAcceptDrops(true);
    installEventFilter(events);

    InstallDialogs();
    HookPlaylist();
    UpdateScrollButtons();
}

void TForm1::RouteDropsToWindow() {
    // Edits and the priority box would paste a dropped file's path; the
    // playlist is where dropped files belong.
    for (QWidget* child : findChildren<QWidget*>()) child->setAcceptDrops(false);
    setAcceptDrops(true);
}

void TForm1::InstallDialogs() {
    RunOpenDialog = [this](const QString& caption, const QString& filter, bool multiple) {
        QFileDialog dialog(this, caption, QDir::currentPath(), filter);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
        if (dialog.exec() != QDialog::Accepted) return QStringList();
        return dialog.selectedFiles();
    };
    RunSaveDialog = [this](const QString& caption, const QString& fileName, const QString& filter) {
        QFileDialog dialog(this, caption, QDir::currentPath(), filter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("m3u"));
        // The replace question is asked by the playlist itself.
        dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
        dialog.selectFile(fileName);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
        return dialog.selectedFiles().front();
    };
    AskReplace = [this](const QString& text) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Replace?"), text, QMessageBox::Yes | QMessageBox::No, this);
        box.setDefaultButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    };
}

// --------------------------------------------------------------- the buttons

void TForm1::SpeedButton22Click() {
    TimerPause pause(Timer4);
    bf->SetFolderName(browseFolder_.isEmpty() ? QDir::homePath() : browseFolder_);
    if (!bf->Execute()) return;
    browseFolder_ = bf->FolderName();
    AddFolderTree(browseFolder_);
}

void TForm1::AddFolderTree(const QString& folder) {
    TimerPause pause(Timer4);
    const int before = RowsBeforeAdding();
    QByteArray target = QFile::encodeName(folder);
    if (!target.endsWith('/')) target += '/';
    target += "*.mp3";
    FindFile1->IncludeFiles() = {target.toStdString()};
    QApplication::setOverrideCursor(Qt::BusyCursor);
    try {
        FindFile1->Execute();
        // The worker hands each find to this thread and waits for it.
        PumpEventsFor(-1, [this] { return FindFile1->Busy(); });
    } catch (const std::exception& error) {
        SetStatus(QString::fromUtf8(error.what()).trimmed());
    }
    QApplication::restoreOverrideCursor();
    FinishAdding(before);
}

void TForm1::SpeedButton23Click() {
    TimerPause pause(Timer4);
    const int before = RowsBeforeAdding();
    const QStringList files = RunOpenDialog(QStringLiteral("Add files"), kAddFilter, true);
    if (files.isEmpty()) return;
    for (const QString& file : files) {
        if (IsMp3Path(file)) {
            AddEntry(file);
        } else if (IsListFilePath(file) && !IsPlaylistPath(file)) {
            ReadList(file);  // its stations (or a sheet's tracks) appended
        }
    }
    FinishAdding(before);
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

void TForm1::SpeedButton25Click() {
    EntryCount = 0;
    CurrentEntry = 0;
    ClearPlaylist();
    ShowEntryCounter();
}

void TForm1::SpeedButton26Click() {
    TimerPause pause(Timer4);
    const QStringList files = RunOpenDialog(QStringLiteral("Open a playlist"), kListFilter, false);
    if (files.isEmpty()) return;
    if (files.size() == 1 && IsListFilePath(files.front())) {
        // Read on a worker; it replaces the list as it comes, and the first entry plays once it is in.
        Playlist.Loader().Start(files.front(), TListKind::Any, TLoadMode::Replace, TListLoader::StartOnce([this] {
            if (!quitting_) StartFirstEntry();
        }, Controller->Options().Random));
        return;
    }
    ClearPlaylist();
    StartFirstEntry();
}

void TForm1::SpeedButton27Click() {
    TimerPause pause(Timer4);
    const QString path = RunSaveDialog(QStringLiteral("Save current playlist as"), QStringLiteral("wl.m3u"),
                                       QStringLiteral("m3u (*.m3u *.m3u8)"));
    if (path.isEmpty()) return;
    if (Playlist.Loader().Busy()) {
        ShowError(QStringLiteral("Not saved: the playlist is still being read"));
        return;
    }
    SaveDefaultPlaylist();
    if (QFileInfo::exists(path)) {
        if (!AskReplace(path + QStringLiteral(" already exists!\n\rDo you want to replace it?"))) return;
        QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::WriteOwner);
    }
    // Written for its own folder (files below it relative, others absolute),
    // replacing the old file only once all is written.
    QString why;
    if (!WriteFileAtomically(path, EncodePlaylistFor(Playlist.Entries(), QFileInfo(path).absolutePath()), &why))
        ShowError("Cannot save " + QFileInfo(path).fileName() + ": " + why);
}

void TForm1::Image13Click() {
    TimerPause pause(Timer4);
    const QStringList files = RunOpenDialog(QString(), kOpenFilter, true);
    if (files.isEmpty()) return;
    if (files.size() == 1 && IsListFilePath(files.front())) {
        // Read on a worker; it replaces the list as it comes, and the first entry plays once it is in.
        Playlist.Loader().Start(files.front(), TListKind::Any, TLoadMode::Replace, TListLoader::StartOnce([this] {
            if (!quitting_) StartFirstEntry();
        }, Controller->Options().Random));
        return;
    }
    ClearPlaylist();
    {
        for (const QString& file : files) {
            if (IsMp3Path(file)) AddEntry(file);
        }
    }
    StartFirstEntry();
}

void TForm1::ScrollButtonClick(int button) {
    if (!sg1) return;
    const int rows = sg1->rowCount();
    const int top = TopRow();
    const bool canGoDown = rows > kVisibleRows && top < rows - kVisibleRows;
    switch (button) {
    case 28: SetTopRow(0); break;
    case 29: SetTopRow(std::max(0, top - 5)); break;
    case 30:
        if (top > 0) SetTopRow(top - 1);
        break;
    case 31:
        if (canGoDown) SetTopRow(top + 1);
        break;
    case 32:
        if (canGoDown) SetTopRow(rows - top - 11 < 0 ? rows - kVisibleRows : top + 5);
        break;
    case 33:
        if (canGoDown) SetTopRow(rows - kVisibleRows);
        break;
    default: return;
    }
    UpdateScrollButtons();
}

void TForm1::sg1DblClick() {
    // An empty grid has nothing to play (its one row holds no entry).
    if (!sg1 || PlaylistEmpty()) return;
    const int row = sg1->currentRow();
    if (row < 0 || row >= Playlist.Rows()) return;
    EntryCount = Playlist.Rows();
    Controller->PlayEntry(row + 1);  // marked as played in a random round
}

}  // namespace wl
