#include "windows/ftp/ftppanel.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QVBoxLayout>
#include <algorithm>

#include "windows/ftp/ftpform.h"
#include "windows/ftp/ftphost.h"
#include "windows/ftp/ftplistparser.h"

namespace {

const QString kUpOneDir = QStringLiteral("<up one dir>");
const char *const kHeadings[3] = {"File Name", "File Size", "Date/Time"};
const int kColWidths[3] = {150, 64, 80};

} // namespace

TFtpPanel::TFtpPanel(TFtpHost &host, QWidget *parent) : QWidget(parent), m_host(host)
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
    button(RenameBut, "RenameBut", QStringLiteral("Rename ==>"), QStringLiteral("Rename a file on the remote server"));
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
    StringGrid2 = new TSortGrid(this);
    StringGrid2->setObjectName(QStringLiteral("StringGrid2"));
    StringGrid2->setColCount(3);
    StringGrid2->setRowCount(2);
    StringGrid2->setFixedRows(1);
    for (int c = 0; c < 3; ++c) {
        StringGrid2->setCells(c, 0, QString::fromLatin1(kHeadings[c]));
        StringGrid2->setColWidths(c, kColWidths[c]);
    }
    // The grid sorts itself on a heading click (sizes by value, the rest as text, as detected);
    // the choice is kept so that the next folder's listing comes sorted the same way.
    StringGrid2->OnClickSort = [this](int col, int, TSortOptions &o) {
        m_sortCol = col;
        m_sortOptions = o;
    };
    // Sizes line up on their last digit, as in the zip grid.
    StringGrid2->OnGetCellFormat = [](int col, int row, int, TFormatOptions &f) {
        if (row >= 1 && col == 1)
            f.AlignmentHorz = taRightJustify;
    };
    StringGrid2->OnDblClick = [this] { StringGrid2DblClick(); };
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
    connect(RenameBut, &QPushButton::clicked, this, &TFtpPanel::RenameButClick);
    connect(CloseBut, &QPushButton::clicked, this, &TFtpPanel::CloseButClick);
    connect(ConnectBut, &QPushButton::clicked, this, [this] { m_host.openFtpWindow(); });
    connect(AbortBut, &QPushButton::clicked, this, [this] {
        if (m_form)
            m_form->abortTransfer();
    });
    connect(AdvMenuCB, &QCheckBox::toggled, this, &TFtpPanel::AdvMenuCBClick);
    connect(RemoteDirList, &QListWidget::itemClicked, this, &TFtpPanel::RemoteDirListClick);
    AdvMenuCBClick();
    clearListing();
}

bool TFtpPanel::binarySelected() const { return BinaryRadio->isChecked(); }

void TFtpPanel::AdvMenuCBClick()
{
    const bool on = AdvMenuCB->isChecked();
    for (QPushButton *b : {RmDirBut, MkDirBut, ViewBut, DelRemFileBut, RenameBut, ConnectBut}) b->setVisible(on);
}

void TFtpPanel::setButtonsEnabled(bool on)
{
    for (QWidget *w : {(QWidget *)UploadBut, (QWidget *)DownloadBut, (QWidget *)CloseBut, (QWidget *)ChgDirBut,
                       (QWidget *)RemoteDirList, (QWidget *)ConnectBut})
        w->setEnabled(on);
    if (AdvMenuCB->isChecked())
      for (QPushButton *b : {RmDirBut, MkDirBut, DelRemFileBut, ViewBut, RenameBut}) b->setEnabled(on);
}

void TFtpPanel::clearListing()
{
    StringGrid2->BeginUpdate();
    StringGrid2->setFixedRows(1);
    StringGrid2->setRowCount(2);
    StringGrid2->setRows(1, {});  // a smaller row count keeps the row's old texts
    StringGrid2->EndUpdate();
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
    QStringList lines;
    std::vector<TFtpDirEntry> entries;
    if (QFileInfo::exists(listingFile) && ReadListingFile(listingFile, lines)) {
      entries = ParseDirLines(lines, UnixListing);
      QFile::remove(listingFile);
    }
    showEntries(entries);
    log(QStringLiteral("done."));
}

void TFtpPanel::showEntries(const std::vector<TFtpDirEntry> &entries) {
  RemoteDirList->clear();
  if (RemoteDirEdit->text() != QLatin1String("/")) RemoteDirList->addItem(kUpOneDir);
  // One view reset for the whole listing (it also drops the old selection): big folders fill fast.
  StringGrid2->BeginUpdate();
  StringGrid2->setFixedRows(1);
  int files = 0;
  QStringList dirNames;
  for (const TFtpDirEntry &e : entries) {
    if (e.directory)
      dirNames << e.name;
    else
      ++files;
  }
  RemoteDirList->addItems(dirNames);
  StringGrid2->setRowCount(files + 1);  // sized once
  int row = 1;
  for (const TFtpDirEntry &e : entries)
    if (!e.directory) StringGrid2->setRows(row++, {e.name, e.size, e.date});
  if (files == 0) {
    StringGrid2->setRowCount(2);
    StringGrid2->setRows(1, {});
  } else if (m_sortCol >= 0) {
    StringGrid2->SortColumn(m_sortCol, m_sortOptions);
  }
  StringGrid2->EndUpdate();
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

void TFtpPanel::StringGrid2DblClick() { DownloadButClick(); }

void TFtpPanel::MkDirButClick()
{
    if (!m_form || m_form->busy())
        return;
    const QString name = m_host.askText(QStringLiteral("Create Directory"), QStringLiteral("Enter Directory Name")).left(255);
    if (name.isEmpty())
        return;
    m_form->log(QStringLiteral("mkdir ") + name);
    m_form->makeDir(name);
}

void TFtpPanel::RmDirButClick()
{
    if (!m_form || m_form->busy())
        return;
    const QString name = m_host.askText(QStringLiteral("Remove Directory"), QStringLiteral("Enter Directory Name")).left(255);
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
    const QString file = m_host.currentFile();
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
        int top = 0, bottom = -1;
        StringGrid2->Selection(top, bottom);
        if (bottom < 1 || bottom < top)
            return false;
        top = std::max(top, StringGrid2->FixedRows());
        if (what == Collect::View || what == Collect::Rename) bottom = top;
        for (int r = top; r <= bottom; ++r) {
            const QString name = StringGrid2->Cells(0, r);
            if (!name.isEmpty())  // the empty row of a folder without files
                m_form->TransferQueue << name;
        }
    } else {
      const QString caption = what == Collect::Download ? QStringLiteral("Download a File")
                              : what == Collect::Delete ? QStringLiteral("Delete a File")
                              : what == Collect::Rename ? QStringLiteral("Rename a File")
                                                        : QStringLiteral("View a File");
      const QString name = m_host.askText(caption, QStringLiteral("Enter File Name"));
      if (!name.isEmpty()) m_form->TransferQueue << name;
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

void TFtpPanel::RenameButClick() {
  if (!m_form || m_form->busy()) return;
  if (!collectNames(Collect::Rename)) return;
  const QString from = m_form->TransferQueue.first();
  m_form->TransferQueue.clear();
  const QString to = m_host.askText(QStringLiteral("Rename a File"), QStringLiteral("New name for ") + from).trimmed();
  if (to.isEmpty() || to == from) return;
  m_form->renameRemote(from, to);
}
