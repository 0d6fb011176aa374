// TBrowseForFolder: shows a folder chooser with a caption, a status text and
// a preselected folder, and returns the chosen folder.
#pragma once

#include <QObject>
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
    // Shows the prepared dialog; true when a folder was chosen.
    using DialogRunner = std::function<bool(QFileDialog& dialog)>;

    // The dialog is owned by `owner`'s window when `owner` is a widget.
    explicit TBrowseForFolder(QObject* owner = nullptr);

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

    // Shows the dialog. OK: FolderName := the chosen folder's path,
    // DisplayName := its name; returns true. Cancel: false, both unchanged.
    bool Execute();

    // The folder at the top of the tree: "/" for bl_STANDART, CustomRoot for
    // bl_CUSTOM, else the matching XDG folder where one exists, else home.
    QString ResolveRoot() const;

    // Replaces the modal run of the dialog (the tests answer it themselves).
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
};

}  // namespace wl
