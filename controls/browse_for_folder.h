// TBrowseForFolder: shows a folder chooser with a caption, a status text and
// a preselected folder, and tells the chosen folder once it closes.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>

class QFileDialog;
class QWidget;

namespace wl {

enum TBrowseFlag : uint32_t {
    bf_BrowseForComputer = 0x01,
    bf_BrowseForPrinter = 0x02,
    bf_DontGoBelowDomain = 0x04,
    bf_statustext = 0x08,
    bf_ReturnFSanceStors = 0x10,
    bf_ReturnOnlyFSDIRS = 0x20,
    bf_EditBox = 0x40,
};
using TBrowseFlags = uint32_t;

enum class TBrowseLocation {
    bl_STANDART,
    bl_CUSTOM,
    bl_DESKTOP,
    bl_PROGRAMS,
    bl_CONTROLS,
    bl_PRINTERS,
    bl_PERSONAL,
    bl_FAVORITES,
    bl_STARTUP,
    bl_RECENT,
    bl_SENDTO,
    bl_BITBUCKET,
    bl_STARTMENU,
    bl_DESKTOPDIRECTORY,
    bl_DRIVES,
    bl_NETWORK,
    bl_NETHOOD,
    bl_FONTS,
    bl_TEMPLATES,
    bl_COMMON_STARTMENU,
    bl_COMMON_PROGRAMS,
    bl_COMMON_STARTUP,
    bl_COMMON_DESKTOPDIRECTORY,
    bl_APPDATA,
    bl_PRINTHOOD,
};

class TBrowseForFolder : public QObject {
    Q_OBJECT
public:
    // Answers the prepared dialog at once; true when a folder was chosen.
    using DialogRunner = std::function<bool(QFileDialog& dialog)>;
    // Called once the dialog closed: true when a folder was chosen.
    using Answer = std::function<void(bool chosen)>;

    // The dialog is owned by `owner`'s window when `owner` is a widget.
    explicit TBrowseForFolder(QObject* owner = nullptr);
    ~TBrowseForFolder() override;

    const QString& DisplayName() const { return displayName_; }
    const QString& StatusText() const { return statusText_; }
    void SetStatusText(const QString& v) { statusText_ = v; }
    const QString& FolderName() const { return folderName_; }
    void SetFolderName(const QString& v) { folderName_ = v; }
    TBrowseFlags Flags() const { return flags_; }
    void SetFlags(TBrowseFlags v) { flags_ = v; }
    TBrowseLocation Root() const { return root_; }
    void SetRoot(TBrowseLocation v) { root_ = v; }
    const QString& Caption() const { return caption_; }
    void SetCaption(const QString& v) { caption_ = v; }
    // The root item of bl_CUSTOM.
    const QString& CustomRoot() const { return customRoot_; }
    void SetCustomRoot(const QString& v) { customRoot_ = v; }

    // Opens the dialog (window-modal, no nested event loop) and returns at
    // once; `answer` runs when it closes. OK: FolderName := the chosen
    // folder's path, DisplayName := its name, answer(true). Cancel: both
    // unchanged, answer(false). While one is open, another Execute brings
    // it forward and its answer is dropped.
    void Execute(Answer answer);
    bool Open() const { return !dialog_.isNull(); }
    // Closes an open dialog as cancelled.
    void Cancel();
    // The folder the dialog showed when it closed, chosen or cancelled.
    const QString& BrowsedFolder() const { return browsed_; }

    // The folder at the top of the tree: "/" for bl_STANDART, CustomRoot for
    // bl_CUSTOM, else the matching XDG folder where one exists, else home.
    QString ResolveRoot() const;

    // Replaces the user's answer (the tests answer the dialog themselves).
    void SetDialogRunner(DialogRunner runner) { runner_ = std::move(runner); }

private:
    QString displayName_;
    QString statusText_ = QStringLiteral("Plase select folder");
    QString folderName_ = QStringLiteral("/");
    TBrowseFlags flags_ = 0;
    TBrowseLocation root_ = TBrowseLocation::bl_STANDART;
    QString caption_ = QStringLiteral("Select Folder");
    QString customRoot_;
    DialogRunner runner_;
    QPointer<QFileDialog> dialog_;
    QString browsed_;

    void Close(QFileDialog& dialog, bool accepted, const Answer& answer);
};

}  // namespace wl
