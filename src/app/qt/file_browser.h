// The file browser of the main window: drive list, directory list, file list
// and type filter. The drive list drives the directory list, which drives the
// file list; the filter sets the file list's mask.
#pragma once

#include <QComboBox>
#include <QFileSystemWatcher>
#include <QListWidget>
#include <QMimeData>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <vector>

#include "framed.h"

namespace rombolt::qt {

// Where browsing can start on this system: the root, the home folder and the
// mounted volumes listed in a mounts table (/proc/mounts format).
QStringList DriveRoots(const QString& mountsFile = QStringLiteral("/proc/mounts"));

// Splits a window-system filter ("desc|patterns|desc|patterns...") into pairs.
struct FilterEntry {
    QString description;
    QString patterns;  // ';'-separated
};
std::vector<FilterEntry> ParseFilter(const QString& filter);

// Converts a window-system filter to the name filters of a Qt file dialog
// ("GBA Files (*.gba *.bin)"); "*.*" becomes "*" so names without a dot match.
QStringList QtNameFilters(const QString& filter);

// True when `name` matches one of the ';'-separated patterns (case-insensitive;
// "*.*" matches every name).
bool MatchesMask(const QString& name, const QString& mask);

// Drags inside the window carry the name of the control they start from, and
// this process's id so that a drag from another running copy is not taken
// for one of ours.
inline constexpr const char* kDragMimeType = "application/x-rombolt-drag-source";
QMimeData* MakeDragData(const QString& sourceName);
// The source control's name of a drag started in this process, or empty.
QString DragSourceName(const QMimeData* data);

class TDriveComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TDriveComboBox(QWidget* parent = nullptr);
    // Shows the drive that holds `path` (the longest matching root).
    void SelectDriveOf(const QString& path);
    QString Drive() const { return currentData().toString(); }
signals:
    void DriveChosen(const QString& root);
};

using TFramedList = TFramed<QListWidget>;

class TDirectoryListBox : public TFramedList {
    Q_OBJECT
public:
    explicit TDirectoryListBox(QWidget* parent = nullptr);
    QString Directory() const { return directory_; }
    // Shows `dir` (made absolute and clean); false, and nothing changes, when it is no directory.
    bool SetDirectory(const QString& dir);
signals:
    void DirectoryChanged(const QString& dir);

private:
    void Fill();
    QString directory_;
};

class TFileListBox : public TFramedList {
    Q_OBJECT
public:
    explicit TFileListBox(QWidget* parent = nullptr);
    QString Directory() const { return directory_; }
    void SetDirectory(const QString& dir);
    QString Mask() const { return mask_; }
    void SetMask(const QString& mask);
    void Refresh();
    // Names of the selected files, in list order.
    QStringList SelectedNames() const;

protected:
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QList<QListWidgetItem*>& items) const override;

private:
    // The folder changed on disk: the list again, with the selection, the
    // current file and the scroll position kept.
    void FollowFolder();

    QString directory_;
    QString mask_ = QStringLiteral("*.*");
    QFileSystemWatcher watcher_;
    QTimer settle_;  // a copy of many files refreshes the list once
};

class TFilterComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TFilterComboBox(QWidget* parent = nullptr);
    void SetFilter(const QString& filter);
    QString Mask() const { return currentData().toString(); }
signals:
    void MaskChanged(const QString& mask);
};

}  // namespace rombolt::qt
