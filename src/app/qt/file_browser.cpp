#include "file_browser.h"

#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTextStream>

namespace rombolt::qt {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kDepthRole = Qt::UserRole + 1;

// Draws a directory entry indented by its depth, as a directory list does.
class IndentDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem o = option;
        o.rect.adjust(index.data(kDepthRole).toInt() * 8, 0, 0, 0);
        QStyledItemDelegate::paint(painter, o, index);
    }
};

// Mount points worth offering: real devices and the usual removable-media folders.
bool IsVolume(const QString& device, const QString& mountPoint, const QString& type) {
    static const QStringList pseudo = {
        "proc",     "sysfs",   "devtmpfs", "devpts",  "tmpfs",       "cgroup", "cgroup2",
        "pstore",   "bpf",     "tracefs",  "debugfs", "securityfs",  "mqueue", "hugetlbfs",
        "configfs", "fusectl", "overlay",  "autofs",  "binfmt_misc", "nsfs",   "efivarfs"};
    if (pseudo.contains(type)) return false;
    if (mountPoint == "/") return false;
    if (mountPoint.startsWith("/proc") || mountPoint.startsWith("/sys") || mountPoint.startsWith("/dev") ||
        mountPoint.startsWith("/run/user") || mountPoint == "/boot" || mountPoint.startsWith("/boot/") ||
        mountPoint.startsWith("/snap/"))
        return false;
    if (mountPoint.startsWith("/media/") || mountPoint.startsWith("/mnt/") || mountPoint == "/mnt" ||
        mountPoint.startsWith("/run/media/"))
        return true;
    return device.startsWith("/dev/") || type == "nfs" || type == "nfs4" || type == "cifs";
}

// /proc/mounts writes blanks and some other bytes in octal (\040).
QString UnescapeMount(const QString& field) {
    QString out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            int v = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out += QChar(v);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

}  // namespace

QStringList DriveRoots(const QString& mountsFile) {
    QStringList roots = {QStringLiteral("/")};
    QString home = QDir::homePath();
    if (!home.isEmpty() && home != "/") roots << QDir::cleanPath(home);
    QFile f(mountsFile);
    if (f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QTextStream in(&f);
        while (!in.atEnd()) {
            QStringList parts = in.readLine().split(' ', Qt::SkipEmptyParts);
            if (parts.size() < 3) continue;
            QString mountPoint = UnescapeMount(parts[1]);
            if (!IsVolume(parts[0], mountPoint, parts[2])) continue;
            if (!roots.contains(mountPoint)) roots << mountPoint;
        }
    }
    return roots;
}

std::vector<FilterEntry> ParseFilter(const QString& filter) {
    std::vector<FilterEntry> out;
    QStringList parts = filter.split('|');
    for (int i = 0; i + 1 < parts.size(); i += 2) out.push_back({parts[i], parts[i + 1]});
    return out;
}

QStringList QtNameFilters(const QString& filter) {
    QStringList out;
    for (const auto& e : ParseFilter(filter)) {
        QStringList pats;
        for (const QString& p : e.patterns.split(';', Qt::SkipEmptyParts))
            pats << (p == "*.*" ? QString("*") : p);
        // The description keeps its words; the pattern list Qt reads is the last parenthesis.
        QString desc = e.description;
        int open = desc.lastIndexOf('(');
        if (open >= 0) desc = desc.left(open).trimmed();
        out << QStringLiteral("%1 (%2)").arg(desc, pats.join(' '));
    }
    return out;
}

bool MatchesMask(const QString& name, const QString& mask) {
    for (const QString& p : mask.split(';', Qt::SkipEmptyParts)) {
        if (p == "*.*" || p == "*") return true;
        QRegularExpression re(QRegularExpression::wildcardToRegularExpression(p),
                              QRegularExpression::CaseInsensitiveOption);
        if (re.match(name).hasMatch()) return true;
    }
    return false;
}

QMimeData* MakeDragData(const QString& sourceName) {
    auto* data = new QMimeData;
    data->setData(kDragMimeType, QStringLiteral("%1:%2").arg(sourceName).arg(getpid()).toUtf8());
    return data;
}

QString DragSourceName(const QMimeData* data) {
    if (data == nullptr || !data->hasFormat(kDragMimeType)) return {};
    QString tag = QString::fromUtf8(data->data(kDragMimeType));
    int colon = tag.lastIndexOf(':');
    if (colon < 0 || tag.mid(colon + 1) != QString::number(getpid())) return {};
    return tag.left(colon);
}

// --- drive list ---

TDriveComboBox::TDriveComboBox(QWidget* parent) : QComboBox(parent) {
    for (const QString& root : DriveRoots()) {
        QString label = root == QDir::homePath() ? QStringLiteral("~ (%1)").arg(root) : root;
        addItem(style()->standardIcon(root == "/" ? QStyle::SP_DriveHDIcon : QStyle::SP_DirHomeIcon), label,
                root);
    }
    connect(this, &QComboBox::activated, this,
            [this](int index) { emit DriveChosen(itemData(index).toString()); });
}

void TDriveComboBox::SelectDriveOf(const QString& path) {
    int best = 0;
    int bestLen = -1;
    QString clean = QDir::cleanPath(path);
    for (int i = 0; i < count(); ++i) {
        QString root = itemData(i).toString();
        bool inside = clean == root || clean.startsWith(root.endsWith('/') ? root : root + '/');
        if (inside && root.size() > bestLen) {
            best = i;
            bestLen = static_cast<int>(root.size());
        }
    }
    setCurrentIndex(best);
}

// --- directory list ---

TDirectoryListBox::TDirectoryListBox(QWidget* parent) : TFramedList(parent) {
    setItemDelegate(new IndentDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { SetDirectory(item->data(kPathRole).toString()); });
}

bool TDirectoryListBox::SetDirectory(const QString& dir) {
    QFileInfo info(dir);
    if (dir.isEmpty() || !info.isDir()) return false;
    QString clean = QDir::cleanPath(info.absoluteFilePath());
    if (clean == directory_) return true;
    directory_ = clean;
    Fill();
    emit DirectoryChanged(directory_);
    return true;
}

void TDirectoryListBox::Fill() {
    clear();
    QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
    QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
    // The chain from the root down to the current folder, then its sub-folders.
    QStringList chain;
    for (QDir d(directory_);;) {
        chain.prepend(d.absolutePath());
        if (d.isRoot() || !d.cdUp()) break;
    }
    int depth = 0;
    QListWidgetItem* current = nullptr;
    for (const QString& path : chain) {
        QString name = path == "/" ? QStringLiteral("/") : QFileInfo(path).fileName();
        auto* item = new QListWidgetItem(open, name, this);
        item->setData(kPathRole, path);
        item->setData(kDepthRole, depth++);
        current = item;
    }
    QDir d(directory_);
    for (const QString& sub : d.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase)) {
        auto* item = new QListWidgetItem(closed, sub, this);
        item->setData(kPathRole, d.absoluteFilePath(sub));
        item->setData(kDepthRole, depth);
    }
    if (current) {
        setCurrentItem(current);
        scrollToItem(current, QAbstractItemView::PositionAtCenter);
    }
}

// --- file list ---

TFileListBox::TFileListBox(QWidget* parent) : TFramedList(parent) {
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    settle_.setSingleShot(true);
    settle_.setInterval(200);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, &settle_, qOverload<>(&QTimer::start));
    connect(&settle_, &QTimer::timeout, this, &TFileListBox::FollowFolder);
}

void TFileListBox::SetDirectory(const QString& dir) {
    if (!watcher_.directories().isEmpty()) watcher_.removePaths(watcher_.directories());
    directory_ = dir;
    if (!dir.isEmpty()) watcher_.addPath(dir);
    Refresh();
}

void TFileListBox::FollowFolder() {
    const QStringList selected = SelectedNames();
    const QString current = currentItem() ? currentItem()->text() : QString();
    const int scrolled = verticalScrollBar()->value();
    Refresh();
    for (int i = 0; i < count(); ++i) {
        QListWidgetItem* it = item(i);
        if (it->text() == current) setCurrentItem(it, QItemSelectionModel::NoUpdate);
        if (selected.contains(it->text())) it->setSelected(true);
    }
    verticalScrollBar()->setValue(scrolled);
}

void TFileListBox::SetMask(const QString& mask) {
    mask_ = mask;
    Refresh();
}

void TFileListBox::Refresh() {
    clear();
    if (directory_.isEmpty()) return;
    QDir d(directory_);
    QIcon icon = style()->standardIcon(QStyle::SP_FileIcon);
    for (const QString& name : d.entryList(QDir::Files | QDir::Hidden, QDir::Name | QDir::IgnoreCase)) {
        if (name.startsWith('.') || !MatchesMask(name, mask_)) continue;
        new QListWidgetItem(icon, name, this);
    }
}

QStringList TFileListBox::SelectedNames() const {
    QStringList names;
    for (int i = 0; i < count(); ++i)
        if (item(i)->isSelected()) names << item(i)->text();
    return names;
}

QStringList TFileListBox::mimeTypes() const { return {kDragMimeType}; }

QMimeData* TFileListBox::mimeData(const QList<QListWidgetItem*>&) const { return MakeDragData(objectName()); }

// --- type filter ---

TFilterComboBox::TFilterComboBox(QWidget* parent) : QComboBox(parent) {
    connect(this, &QComboBox::currentIndexChanged, this, [this](int) { emit MaskChanged(Mask()); });
}

void TFilterComboBox::SetFilter(const QString& filter) {
    QSignalBlocker block(this);
    clear();
    for (const auto& e : ParseFilter(filter)) addItem(e.description, e.patterns);
    setCurrentIndex(0);
}

}  // namespace rombolt::qt
