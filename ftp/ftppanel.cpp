#include "ftp/ftppanel.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

#include "ftp/ftpform.h"
#include "ftp/ftplistparser.h"

namespace {

const QString kUpOneDir = QStringLiteral("<up one dir>");

// Sizes sort by their value, not as text ("9" before "10").
class SizeItem : public QTableWidgetItem {
public:
    explicit SizeItem(const QString &text) : QTableWidgetItem(text) {}
    bool operator<(const QTableWidgetItem &other) const override
    {
        bool a = false, b = false;
        const qlonglong x = text().trimmed().toLongLong(&a);
        const qlonglong y = other.text().trimmed().toLongLong(&b);
        if (a && b)
            return x < y;
        if (a != b)
            return a;  // numbers before the rest
        return QTableWidgetItem::operator<(other);
    }
};

} // namespace

TFtpPanel::TFtpPanel(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("FtpPanelContents"));
    OptionPanel = new QWidget(this);
    OptionPanel->setObjectName(QStringLiteral("OptionPanel"));
    OptionPanel->setFixedWidth(120);
    auto *opt = new QVBoxLayout(OptionPanel);
    opt->setContentsMargins(2, 2, 2, 2);
    opt->setSpacing(3);

    auto *binText = new QGroupBox(QStringLiteral("BinText"), OptionPanel);
    binText->setObjectName(QStringLiteral("BinText"));
    binText->setStatusTip(QStringLiteral("Transfer files as Binary or Text"));
    auto *bl = new QVBoxLayout(binText);
    bl->setContentsMargins(4, 2, 4, 2);
    BinaryRadio = new QRadioButton(QStringLiteral("Binary"), binText);
    TextRadio = new QRadioButton(QStringLiteral("Text"), binText);
    BinaryRadio->setChecked(true);
    bl->addWidget(BinaryRadio);
    bl->addWidget(TextRadio);
    opt->addWidget(binText);

    auto button = [this, opt](QPushButton *&b, const char *name, const QString &caption, const QString &hint) {
        b = new QPushButton(caption, OptionPanel);
        b->setObjectName(QLatin1String(name));
        b->setStatusTip(hint);  // the long hint goes to the status line; no pop-up
        opt->addWidget(b);
    };
    button(ChgDirBut, "ChgDirBut", QStringLiteral("ChgDir ==>"), QStringLiteral("Change directory on remote server"));
    button(MkDirBut, "MkDirBut", QStringLiteral("MkDir ==>"), QStringLiteral("Create a new directory on the remote server"));
    button(RmDirBut, "RmDirBut", QStringLiteral("RmDir ==>"), QStringLiteral("Remove directory from remote server"));
    AdvMenuCB = new QCheckBox(QStringLiteral("Advanced Menu"), OptionPanel);
    AdvMenuCB->setObjectName(QStringLiteral("AdvMenuCB"));
    AdvMenuCB->setChecked(true);
    opt->addWidget(AdvMenuCB);
    button(UploadBut, "UploadBut", QStringLiteral("&Upload ==>"),
           QStringLiteral("Upload highlighted file from local directory to remote server"));
    button(DownloadBut, "DownloadBut", QStringLiteral("<== &Download"),
           QStringLiteral("Download files from remote server to local drive"));
    button(DelRemFileBut, "DelRemFileBut", QStringLiteral("Delete ==>"), QStringLiteral("Delete files from remote server"));
    button(ViewBut, "ViewBut", QStringLiteral("View ==>"), QStringLiteral("View the contents of file on remote server"));
    button(ConnectBut, "ConnectBut", QStringLiteral("Co&nnect"), QStringLiteral("Connect to a different server"));
    button(CloseBut, "CloseBut", QStringLiteral("&Close"), QStringLiteral("Terminate the remote connection"));
    button(AbortBut, "AbortBut", QStringLiteral("Abort"), QStringLiteral("Cancel the running transfer"));
    AbortBut->hide();
    opt->addStretch(1);

    RcLabel = new QLabel(QStringLiteral("Remote Computer"), this);
    lblProgress = new QLabel(this);
    lblProgress->setObjectName(QStringLiteral("lblProgress"));
    lblProgress->setMinimumWidth(90);
    lblProgress->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    BytesLabel = new QLabel(QStringLiteral("Bytes"), this);
    CdLabel = new QLabel(QStringLiteral("Current Directory"), this);
    RemoteDirEdit = new QLineEdit(this);
    RemoteDirEdit->setObjectName(QStringLiteral("RemoteDirEdit"));
    RemoteDirList = new QListWidget(this);
    RemoteDirList->setObjectName(QStringLiteral("RemoteDirList"));
    StringGrid2 = new QTableWidget(0, 3, this);
    StringGrid2->setObjectName(QStringLiteral("StringGrid2"));
    StringGrid2->setHorizontalHeaderLabels({QStringLiteral("File Name"), QStringLiteral("File Size"), QStringLiteral("Date/Time")});
    StringGrid2->setColumnWidth(0, 150);
    StringGrid2->setColumnWidth(1, 64);
    StringGrid2->setColumnWidth(2, 80);
    StringGrid2->horizontalHeader()->setStretchLastSection(true);
    StringGrid2->verticalHeader()->hide();
    StringGrid2->setSelectionBehavior(QAbstractItemView::SelectRows);
    StringGrid2->setSelectionMode(QAbstractItemView::ContiguousSelection);
    StringGrid2->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid2->verticalHeader()->setDefaultSectionSize(StringGrid2->fontMetrics().height() + 6);
    // Listed in the server's order until a heading is clicked.
    StringGrid2->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    StringGrid2->horizontalHeader()->setSortIndicatorShown(false);
    connect(StringGrid2->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this] { StringGrid2->horizontalHeader()->setSortIndicatorShown(true); });
    StringGrid2->setSortingEnabled(true);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setMaximumBlockCount(5000);

    auto *right = new QVBoxLayout;
    auto *top = new QHBoxLayout;
    top->addWidget(RcLabel);
    top->addStretch(1);
    top->addWidget(lblProgress);
    top->addWidget(BytesLabel);
    right->addLayout(top);
    auto *cd = new QHBoxLayout;
    cd->addWidget(CdLabel);
    cd->addWidget(RemoteDirEdit, 1);
    right->addLayout(cd);
    auto *split = new QSplitter(Qt::Vertical, this);
    auto *lists = new QSplitter(Qt::Horizontal, split);
    lists->addWidget(RemoteDirList);
    lists->addWidget(StringGrid2);
    lists->setStretchFactor(0, 1);
    lists->setStretchFactor(1, 3);
    split->addWidget(lists);
    split->addWidget(Memo1);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    right->addWidget(split, 1);
    auto *lay = new QHBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->addWidget(OptionPanel);
    lay->addLayout(right, 1);

    connect(ChgDirBut, &QPushButton::clicked, this, &TFtpPanel::ChgDirButClick);
    connect(MkDirBut, &QPushButton::clicked, this, &TFtpPanel::MkDirButClick);
    connect(RmDirBut, &QPushButton::clicked, this, &TFtpPanel::RmDirButClick);
    connect(UploadBut, &QPushButton::clicked, this, &TFtpPanel::UploadButClick);
    connect(DownloadBut, &QPushButton::clicked, this, &TFtpPanel::DownloadButClick);
    connect(DelRemFileBut, &QPushButton::clicked, this, &TFtpPanel::DelRemFileButClick);
    connect(ViewBut, &QPushButton::clicked, this, &TFtpPanel::ViewButClick);
    connect(CloseBut, &QPushButton::clicked, this, &TFtpPanel::CloseButClick);
    connect(ConnectBut, &QPushButton::clicked, this, [this] {
        if (openFtpWindow)
            openFtpWindow();
    });
    connect(AbortBut, &QPushButton::clicked, this, [this] {
        if (m_form)
            m_form->abortTransfer();
    });
    connect(AdvMenuCB, &QCheckBox::toggled, this, &TFtpPanel::AdvMenuCBClick);
    connect(RemoteDirList, &QListWidget::itemClicked, this, &TFtpPanel::RemoteDirListClick);
    connect(StringGrid2, &QTableWidget::cellDoubleClicked, this, &TFtpPanel::DownloadButClick);
    AdvMenuCBClick();
    clearListing();
}

bool TFtpPanel::binarySelected() const { return BinaryRadio->isChecked(); }

void TFtpPanel::AdvMenuCBClick()
{
    const bool on = AdvMenuCB->isChecked();
    for (QPushButton *b : {RmDirBut, MkDirBut, ViewBut, DelRemFileBut, ConnectBut})
        b->setVisible(on);
}

void TFtpPanel::setButtonsEnabled(bool on)
{
    for (QWidget *w : {(QWidget *)UploadBut, (QWidget *)DownloadBut, (QWidget *)CloseBut, (QWidget *)ChgDirBut,
                       (QWidget *)RemoteDirList, (QWidget *)ConnectBut})
        w->setEnabled(on);
    if (AdvMenuCB->isChecked())
        for (QPushButton *b : {RmDirBut, MkDirBut, DelRemFileBut, ViewBut})
            b->setEnabled(on);
}

void TFtpPanel::clearListing()
{
    StringGrid2->setSortingEnabled(false);
    StringGrid2->setRowCount(1);
    for (int c = 0; c < 3; ++c)
        StringGrid2->setItem(0, c, new QTableWidgetItem);
    StringGrid2->setSortingEnabled(true);
}

void TFtpPanel::ParseDir(const QString &listingFile)
{
    auto log = [this](const QString &l) {
        if (m_form)
            m_form->log(l);
        else
            Memo1->appendPlainText(l);
    };
    log(QStringLiteral("Parsing directory listing"));
    RemoteDirList->clear();
    if (RemoteDirEdit->text() != QLatin1String("/"))
        RemoteDirList->addItem(kUpOneDir);
    StringGrid2->setSortingEnabled(false);
    StringGrid2->clearSelection();
    StringGrid2->setRowCount(0);
    QStringList lines;
    if (QFileInfo::exists(listingFile) && ReadListingFile(listingFile, lines)) {
        const std::vector<TFtpDirEntry> entries = ParseDirLines(lines, UnixListing);
        QStringList dirNames;
        int files = 0;
        for (const TFtpDirEntry &e : entries) {
            if (e.directory)
                dirNames << e.name;
            else
                ++files;
        }
        RemoteDirList->addItems(dirNames);
        // Sized once: growing the grid row by row is slow for big folders.
        StringGrid2->setRowCount(files);
        int row = 0;
        for (const TFtpDirEntry &e : entries) {
            if (e.directory)
                continue;
            StringGrid2->setItem(row, 0, new QTableWidgetItem(e.name));
            StringGrid2->setItem(row, 1, new SizeItem(e.size));
            StringGrid2->setItem(row, 2, new QTableWidgetItem(e.date));
            ++row;
        }
        QFile::remove(listingFile);
    }
    if (StringGrid2->rowCount() == 0)
        clearListing();
    StringGrid2->setSortingEnabled(true);
    log(QStringLiteral("done."));
}

void TFtpPanel::ChgDirButClick()
{
    if (!m_form || m_form->busy())
        return;
    const QList<QListWidgetItem *> sel = RemoteDirList->selectedItems();
    if (!sel.isEmpty()) {
        // The first selected item in list order.
        QListWidgetItem *first = sel.first();
        for (QListWidgetItem *i : sel)
            if (RemoteDirList->row(i) < RemoteDirList->row(first))
                first = i;
        if (first->text() == kUpOneDir)
            m_form->upOneDir();
        else
            m_form->changeDir(first->text());
        return;
    }
    const QString dir = RemoteDirEdit->text();
    m_form->log(QStringLiteral("chdir ") + dir);
    m_form->changeDir(dir);
}

void TFtpPanel::RemoteDirListClick() { ChgDirButClick(); }

static QString askWith(TFtpPanel *p, const QString &caption, const QString &prompt)
{
    if (p->askText)
        return p->askText(caption, prompt);
    return QInputDialog::getText(p, caption, prompt);
}

void TFtpPanel::MkDirButClick()
{
    if (!m_form || m_form->busy())
        return;
    const QString name = askWith(this, QStringLiteral("Create Directory"), QStringLiteral("Enter Directory Name")).left(255);
    if (name.isEmpty())
        return;
    m_form->log(QStringLiteral("mkdir ") + name);
    m_form->makeDir(name);
}

void TFtpPanel::RmDirButClick()
{
    if (!m_form || m_form->busy())
        return;
    const QString name = askWith(this, QStringLiteral("Remove Directory"), QStringLiteral("Enter Directory Name")).left(255);
    if (name.isEmpty())
        return;
    m_form->log(QStringLiteral("rmdir ") + name);
    m_form->removeDir(name);
}

void TFtpPanel::UploadButClick()
{
    if (!m_form || m_form->busy())
        return;
    m_form->TransferQueue.clear();
    const QString file = currentFile ? currentFile() : QString();
    if (file.isEmpty() || !QFileInfo(file).isFile())
        return;
    m_form->TransferQueue << file;
    m_form->UploadAll();
}

void TFtpPanel::uploadDropped(const QStringList &paths)
{
    if (!m_form)
        return;
    if (m_form->busy()) {
        // Said rather than silently dropped: the user let go of files expecting them to be sent.
        m_form->log(QStringLiteral("! A transfer is running: the dropped files were not sent"));
        return;
    }
    m_form->TransferQueue.clear();
    for (const QString &p : paths)
        if (QFileInfo(p).isFile())
            m_form->TransferQueue << p;
    m_form->UploadAll();
}

bool TFtpPanel::collectNames(Collect what)
{
    m_form->TransferQueue.clear();
    if (m_form->AutoDirCB->isChecked()) {
        const QList<QTableWidgetSelectionRange> ranges = StringGrid2->selectedRanges();
        if (ranges.isEmpty())
            return false;
        int topRow = ranges.first().topRow(), bottomRow = ranges.first().bottomRow();
        for (const auto &r : ranges) {
            topRow = std::min(topRow, r.topRow());
            bottomRow = std::max(bottomRow, r.bottomRow());
        }
        if (what == Collect::View)
            bottomRow = topRow;
        for (int r = topRow; r <= bottomRow; ++r) {
            const QTableWidgetItem *it = StringGrid2->item(r, 0);
            if (it && !it->text().isEmpty())
                m_form->TransferQueue << it->text();
        }
    } else {
        const QString caption = what == Collect::Download ? QStringLiteral("Download a File")
                              : what == Collect::Delete   ? QStringLiteral("Delete a File")
                                                          : QStringLiteral("View a File");
        const QString name = askWith(this, caption, QStringLiteral("Enter File Name"));
        if (!name.isEmpty())
            m_form->TransferQueue << name;
    }
    return !m_form->TransferQueue.isEmpty();
}

void TFtpPanel::DownloadButClick()
{
    if (!m_form || m_form->busy())
        return;
    if (collectNames(Collect::Download))
        m_form->DownloadAll();
}

void TFtpPanel::DelRemFileButClick()
{
    if (!m_form || m_form->busy())
        return;
    if (collectNames(Collect::Delete)) {
        m_form->QueueCount = int(m_form->TransferQueue.size());
        m_form->RemoteDelete();
    }
}

void TFtpPanel::ViewButClick()
{
    if (!m_form || m_form->busy())
        return;
    m_form->ViewMode = true;
    if (collectNames(Collect::View))
        m_form->View();
    else
        m_form->ViewMode = false;
}

void TFtpPanel::CloseButClick()
{
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
    if (m_form)
        m_form->disconnectSession();
    emit sessionClosed();
}
