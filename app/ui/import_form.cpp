#include "app/ui/import_form.h"

#include "app/core/fax_import.h"
#include "app/platform/flying_op.h"
#include "fax/view/fax_viewer.h"

#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFileSystemWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QStorageInfo>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

// Description and masks of the one filter, as "description|mask;mask".
const QString kFaxFilter = QStringLiteral("Fax Files|*.apf;*.tif;*.tiff;*.pdf");

// Mount points that hold the system's own state rather than user files.
bool SystemMount(const QString& root)
{
    for (const char* prefix : {"/proc", "/sys", "/dev", "/run"})
        if (root == QLatin1String(prefix) || root.startsWith(QLatin1String(prefix) + QLatin1Char('/')))
            return !root.startsWith(QStringLiteral("/run/media/"));
    return false;
}

bool Inside(const QString& folder, const QString& root)
{
    return folder == root || folder.startsWith(root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/'));
}

} // namespace

TImportForm::TImportForm(QWidget* parent) : TForm(parent)
{
    setObjectName(QStringLiteral("ImportForm"));
    setWindowTitle(QStringLiteral("Pellimar Import Fax"));
    resize(760, 520);
    setAcceptDrops(true);

    FlyingOp1 = new TFlyingOp(this);
    FlyingOp1->setObjectName(QStringLiteral("FlyingOp1"));
    FlyingOp1->SetRecurseDirectory(false);

    KivFaxViewer1 = new TKivFaxViewer(this);
    KivFaxViewer1->setObjectName(QStringLiteral("KivFaxViewer1"));
    KivFaxViewer1->setAccessibleName(QStringLiteral("KivFaxViewer1"));
    KivFaxViewer1->SetScaling(false);
    // A file dropped onto the preview is imported like one dropped on the window.
    KivFaxViewer1->SetAcceptDragged(false);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(BuildColumn());
    layout->addWidget(KivFaxViewer1, 1);
    // Tab walks the column from the top, then the preview.
    QWidget* const order[] = {DriveComboBox1, DirectoryListBox1, FilterComboBox1, FileListBox1,
                              BitBtn1,        BitBtn2,           KivFaxViewer1};
    for (size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);

    watcher_ = new QFileSystemWatcher(this);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &TImportForm::FillFileList);
    FormCreate();
}

QWidget* TImportForm::BuildColumn()
{
    auto* column = new QWidget(this);
    column->setAutoFillBackground(true);
    QPalette palette = column->palette();
    palette.setColor(QPalette::Window, QColor(0x80, 0x00, 0x00));
    column->setPalette(palette);
    column->setFixedWidth(260);
    auto* layout = new QVBoxLayout(column);

    DriveComboBox1 = new QComboBox(column);
    DriveComboBox1->setObjectName(QStringLiteral("DriveComboBox1"));
    DriveComboBox1->setAccessibleName(QStringLiteral("DriveComboBox1"));
    DriveComboBox1->setAccessibleDescription(QStringLiteral("The drive or mounted disk to import from"));

    folders_ = new QFileSystemModel(this);
    folders_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    folders_->setReadOnly(true);
    DirectoryListBox1 = new QTreeView(column);
    DirectoryListBox1->setObjectName(QStringLiteral("DirectoryListBox1"));
    DirectoryListBox1->setAccessibleName(QStringLiteral("DirectoryListBox1"));
    DirectoryListBox1->setAccessibleDescription(QStringLiteral("The folders of the drive: the one chosen lists its fax files"));
    DirectoryListBox1->setModel(folders_);
    DirectoryListBox1->setHeaderHidden(true);
    for (int c = 1; c < folders_->columnCount(); ++c)
        DirectoryListBox1->hideColumn(c);

    FilterComboBox1 = new QComboBox(column);
    FilterComboBox1->setObjectName(QStringLiteral("FilterComboBox1"));
    FilterComboBox1->setAccessibleName(QStringLiteral("FilterComboBox1"));
    FilterComboBox1->setAccessibleDescription(QStringLiteral("Which files are listed"));
    const QStringList filter = kFaxFilter.split(QLatin1Char('|'));
    FilterComboBox1->addItem(QStringLiteral("%1 (%2)").arg(filter[0], filter[1]), filter[1]);

    FileListBox1 = new QListWidget(column);
    FileListBox1->setObjectName(QStringLiteral("FileListBox1"));
    FileListBox1->setAccessibleName(QStringLiteral("FileListBox1"));
    FileListBox1->setAccessibleDescription(QStringLiteral("The fax files of the chosen folder: Enter imports the selected one"));
    FileListBox1->setSelectionMode(QAbstractItemView::SingleSelection);

    auto* buttons = new QHBoxLayout;
    BitBtn1 = new QPushButton(QStringLiteral("&OK"), column);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setEnabled(false); // until a file is selected
    BitBtn2 = new QPushButton(QStringLiteral("&Close"), column);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);

    layout->addWidget(DriveComboBox1);
    layout->addWidget(DirectoryListBox1, 1);
    layout->addWidget(FilterComboBox1);
    layout->addWidget(FileListBox1, 1);
    layout->addLayout(buttons);

    connect(DriveComboBox1, &QComboBox::activated, this, &TImportForm::DriveChanged);
    connect(DirectoryListBox1->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid())
                    SetDirectory(folders_->filePath(current));
            });
    connect(FilterComboBox1, &QComboBox::currentIndexChanged, this, &TImportForm::FillFileList);
    connect(FileListBox1, &QListWidget::itemSelectionChanged, this, &TImportForm::FileListBox1Click);
    connect(FileListBox1, &QListWidget::itemActivated, this, &TImportForm::BitBtn1Click);
    connect(BitBtn1, &QPushButton::clicked, this, &TImportForm::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &QWidget::hide);
    return column;
}

// The drives and folders are read when the window is first shown, so that a
// program that never imports does not walk the file system at start-up.
void TImportForm::FormCreate() { StartDirectory = QDir::currentPath(); }

// The roots of the mounted volumes, then the home folder.
void TImportForm::FillDrives()
{
    QStringList roots;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        const QString root = volume.rootPath();
        if (volume.isValid() && volume.isReady() && QFileInfo(root).isDir() && !SystemMount(root))
            roots << root;
    }
    roots.sort();
    roots.removeDuplicates();
    DriveComboBox1->clear();
    for (const QString& root : roots)
        DriveComboBox1->addItem(root, root);
    const QString home = QDir::homePath();
    DriveComboBox1->addItem(QStringLiteral("Home (%1)").arg(home), home);
}

void TImportForm::DriveChanged()
{
    const QString root = DriveComboBox1->currentData().toString();
    if (!root.isEmpty() && !Inside(directory_, root))
        SetDirectory(root);
    else if (!root.isEmpty())
        SetDirectory(directory_); // shows the tree from the chosen root
}

void TImportForm::SetDirectory(const QString& folder)
{
    if (DriveComboBox1->count() == 0)
        FillDrives();
    const QString path = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    // The drive is the innermost listed root that holds the folder, unless
    // the one chosen already holds it.
    int drive = DriveComboBox1->currentIndex();
    if (drive < 0 || !Inside(path, DriveComboBox1->itemData(drive).toString())) {
        qsizetype longest = -1;
        for (int i = 0; i < DriveComboBox1->count(); ++i) {
            const QString root = DriveComboBox1->itemData(i).toString();
            if (Inside(path, root) && root.size() > longest) {
                longest = root.size();
                drive = i;
            }
        }
    }
    DriveComboBox1->setCurrentIndex(drive);
    const QString root = DriveComboBox1->itemData(drive).toString();

    const bool changed = path != directory_;
    directory_ = path;
    if (folders_->rootPath() != root) {
        folders_->setRootPath(root);
        DirectoryListBox1->setRootIndex(folders_->index(root));
    }
    const QModelIndex index = folders_->index(path);
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent())
        DirectoryListBox1->expand(up);
    if (DirectoryListBox1->currentIndex() != index)
        DirectoryListBox1->setCurrentIndex(index); // comes back here with the same path: no loop
    DirectoryListBox1->scrollTo(index);
    if (changed) {
        if (!watcher_->directories().isEmpty())
            watcher_->removePaths(watcher_->directories());
        watcher_->addPath(path);
        FillFileList();
    }
}

// The files of Directory that match the chosen filter, whatever the letter
// case of their names ("fax.apf" as well as "FAX.APF").
void TImportForm::FillFileList()
{
    if (directory_.isEmpty()) // not browsed yet
        return;
    const QString selected = FileListBox1->currentItem() ? FileListBox1->currentItem()->text() : QString();
    const QStringList masks = FilterComboBox1->currentData().toString().split(QLatin1Char(';'), Qt::SkipEmptyParts);
    const QStringList names = QDir(directory_).entryList(masks, QDir::Files, QDir::Name | QDir::IgnoreCase);
    const QSignalBlocker quiet(FileListBox1);
    FileListBox1->clear();
    FileListBox1->addItems(names);
    const QList<QListWidgetItem*> again = FileListBox1->findItems(selected, Qt::MatchExactly);
    if (!selected.isEmpty() && !again.isEmpty())
        FileListBox1->setCurrentItem(again.front());
    FileListBox1Click();
}

QString TImportForm::SelectedPath() const
{
    const QList<QListWidgetItem*> items = FileListBox1->selectedItems();
    if (items.isEmpty())
        return {};
    return QDir(directory_).filePath(items.front()->text());
}

void TImportForm::FileListBox1Click()
{
    const QString path = SelectedPath();
    BitBtn1->setEnabled(!path.isEmpty());
    ShowPreview(path);
}

// A file the viewer cannot read leaves the preview empty: the import will
// say what is wrong with it.
void TImportForm::ShowPreview(const QString& path)
{
    if (KivFaxViewer1->FileName() == path)
        return;
    try {
        KivFaxViewer1->SetFileName(path);
    } catch (const std::exception&) {
        try {
            KivFaxViewer1->SetFileName(QString());
        } catch (const std::exception&) {
            // Emptying the viewer does not fail.
        }
    }
    KivFaxViewer1->viewport()->update();
}

void TImportForm::BitBtn1Click()
{
    const QString path = SelectedPath();
    if (path.isEmpty())
        return;
    ImportFiles({path});
    hide();
}

int TImportForm::ImportFiles(const QStringList& paths)
{
    int imported = 0;
    for (const QString& path : paths)
        if (catalogue_ && host_ && ImportFaxFile(*catalogue_, *host_, *FlyingOp1, StartDirectory, path))
            ++imported;
    FillFileList();
    return imported;
}

void TImportForm::SetCatalogue(TFaxCatalogue* catalogue, TRunHost* host)
{
    catalogue_ = catalogue;
    host_ = host;
}

void TImportForm::showEvent(QShowEvent* event)
{
    TForm::showEvent(event);
    if (directory_.isEmpty())
        SetDirectory(StartDirectory);
    FillFileList();
}

void TImportForm::dragEnterEvent(QDragEnterEvent* event)
{
    if (!DroppedLocalFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TImportForm::dropEvent(QDropEvent* event)
{
    const QStringList files = DroppedLocalFiles(event->mimeData());
    if (files.isEmpty())
        return;
    event->acceptProposedAction();
    ImportFiles(files);
}
