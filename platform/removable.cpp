#include "platform/removable.h"
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QVariantMap>
#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <optional>

namespace platform {

namespace {

// ---- mount table and the test switch ----

struct MountEntry {
  bool found = false;
  QString fsType;
  QString source;
};

// Undoes one-byte escapes: "\NNN" in octal (mount table fields: space, tab, newline, backslash) or "\xHH" in
// hex (udev's by-label link names: blanks and other unsafe bytes).
QString unescapeBytes(const QByteArray &in, bool hex) {
  const int skip = hex ? 2 : 1, digits = hex ? 2 : 3;
  QByteArray out;
  out.reserve(in.size());
  for (int i = 0; i < in.size(); ++i) {
    if (in[i] == '\\' && i + skip + digits <= in.size() && (!hex || in[i + 1] == 'x')) {
      bool ok = false;
      const int c = in.mid(i + skip, digits).toInt(&ok, hex ? 16 : 8);
      if (ok) {
        out.append(char(c));
        i += skip + digits - 1;
        continue;
      }
    }
    out.append(in[i]);
  }
  return QString::fromUtf8(out);
}
QString unescapeMountField(const QByteArray &field) { return unescapeBytes(field, false); }

// The mount at root; the last one listed wins, as a later mount hides the earlier ones.
MountEntry mountAt(const QString &root) {
  MountEntry entry;
  QFile f(QStringLiteral("/proc/self/mountinfo"));
  if (!f.open(QIODevice::ReadOnly)) return entry;
  const QList<QByteArray> lines = f.readAll().split('\n');
  for (const QByteArray &line : lines) {
    const QList<QByteArray> fields = line.split(' ');
    const int dash = fields.indexOf("-");
    if (fields.size() < 5 || dash < 0 || dash + 2 >= fields.size()) continue;
    if (unescapeMountField(fields[4]) != root) continue;
    entry.found = true;
    entry.fsType = unescapeMountField(fields[dash + 1]);
    entry.source = unescapeMountField(fields[dash + 2]);
  }
  return entry;
}

QString cleanRoot(const QString &root) {
  const QString canonical = QFileInfo(root).canonicalFilePath();
  return canonical.isEmpty() ? QDir::cleanPath(root) : canonical;
}

struct Marked {
  bool marked = false;
  QString target;  // device or image file named by the switch; may be empty
};

Marked markedByEnvironment(const QString &root) {
  Marked m;
  const QString spec = qEnvironmentVariable("TARNWICK_REMOVABLE_VOLUMES");
  for (const QString &item : spec.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
    const int eq = item.indexOf(QLatin1Char('='));
    const QString r = (eq < 0 ? item : item.left(eq)).trimmed();
    if (r.isEmpty() || cleanRoot(r) != root) continue;
    m.marked = true;
    m.target = eq < 0 ? QString() : item.mid(eq + 1).trimmed();
  }
  return m;
}

// Resolves /dev/disk/by-* links and the like to the device node itself.
QString resolveDevice(const QString &source) {
  if (!source.startsWith(QLatin1String("/"))) return source;
  const QString canonical = QFileInfo(source).canonicalFilePath();
  return canonical.isEmpty() ? source : canonical;
}

struct Target {
  QString root;
  QString device;  // device node or, under the test switch, an image file
  QString fsType;  // from the mount table
  bool mounted = false;
  bool marked = false;
  bool image = false;
};

Target targetOf(const QString &rootIn) {
  Target t;
  t.root = cleanRoot(rootIn);
  const MountEntry m = mountAt(t.root);
  const Marked mk = markedByEnvironment(t.root);
  t.mounted = m.found;
  t.fsType = m.fsType;
  t.marked = mk.marked;
  t.device = !mk.target.isEmpty() ? resolveDevice(mk.target) : (m.source.startsWith(QLatin1String("/dev/")) ? resolveDevice(m.source) : QString());
  t.image = !t.device.isEmpty() && QFileInfo(t.device).isFile();
  return t;
}

// ---- reading FAT and exFAT labels from the device ----

enum class FatKind { Unknown, Fat, ExFat };

class RawDevice {
 public:
  explicit RawDevice(const QString &path) { fd_ = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); }
  ~RawDevice() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  QByteArray read(qint64 offset, qint64 size) const {
    QByteArray b(size, Qt::Uninitialized);
    qint64 done = 0;
    while (done < size) {
      const ssize_t n = ::pread(fd_, b.data() + done, size_t(size - done), off_t(offset + done));
      if (n <= 0) break;
      done += n;
    }
    b.truncate(done);
    return b;
  }

 private:
  int fd_ = -1;
};

quint32 le16(const QByteArray &b, int at) { return quint8(b[at]) | (quint32(quint8(b[at + 1])) << 8); }
quint32 le32(const QByteArray &b, int at) { return le16(b, at) | (le16(b, at + 2) << 16); }

FatKind probeBootSector(const QByteArray &boot) {
  if (boot.size() < 512) return FatKind::Unknown;
  if (boot.mid(3, 8) == "EXFAT   ") return FatKind::ExFat;
  if (quint8(boot[510]) != 0x55 || quint8(boot[511]) != 0xAA) return FatKind::Unknown;
  const quint32 bps = le16(boot, 11), spc = quint8(boot[13]), reserved = le16(boot, 14), fats = quint8(boot[16]);
  const bool bpsOk = bps == 512 || bps == 1024 || bps == 2048 || bps == 4096;
  const bool spcOk = spc != 0 && (spc & (spc - 1)) == 0;
  if (!bpsOk || !spcOk || reserved == 0 || fats == 0) return FatKind::Unknown;
  return FatKind::Fat;
}

// Looks through 32-byte directory entries; returns the label entry's name when one is there.
struct DirScan {
  bool ended = false;
  std::optional<QString> label;
};

DirScan scanFatEntries(const QByteArray &dir) {
  DirScan s;
  for (int at = 0; at + 32 <= dir.size(); at += 32) {
    const quint8 first = quint8(dir[at]);
    if (first == 0x00) {
      s.ended = true;
      return s;
    }
    if (first == 0xE5) continue;
    const quint8 attr = quint8(dir[at + 11]);
    if (attr == 0x0F || (attr & 0x18) != 0x08) continue;  // long-name pieces, files and folders
    QByteArray name = dir.mid(at, 11);
    if (quint8(name[0]) == 0x05) name[0] = char(0xE5);
    s.label = QString::fromLatin1(name).trimmed();
    return s;
  }
  return s;
}

std::optional<QString> fatLabel(const RawDevice &dev, const QByteArray &boot) {
  const quint32 bps = le16(boot, 11), spc = quint8(boot[13]), reserved = le16(boot, 14), fats = quint8(boot[16]);
  const quint32 rootEntries = le16(boot, 17), fatSize16 = le16(boot, 22);
  const bool fat32 = rootEntries == 0 && fatSize16 == 0;
  QString bootLabel;
  const int sigAt = fat32 ? 66 : 38;
  if (quint8(boot[sigAt]) == 0x29) bootLabel = QString::fromLatin1(boot.mid(sigAt + 5, 11)).trimmed();
  if (bootLabel == QLatin1String("NO NAME")) bootLabel.clear();

  // The root folder's label entry is what the desktop shows and what changes when a label is set.
  if (!fat32) {
    const qint64 at = qint64(reserved + fats * fatSize16) * bps;
    const DirScan s = scanFatEntries(dev.read(at, qint64(rootEntries) * 32));
    if (s.label) return s.label;
    return bootLabel;
  }
  const quint32 fatSize = le32(boot, 36);
  const qint64 dataStart = qint64(reserved + qint64(fats) * fatSize) * bps;
  const qint64 clusterBytes = qint64(spc) * bps;
  quint32 cluster = le32(boot, 44) & 0x0FFFFFFF;
  for (int hops = 0; hops < 4096 && cluster >= 2 && cluster < 0x0FFFFFF7; ++hops) {
    const QByteArray dir = dev.read(dataStart + qint64(cluster - 2) * clusterBytes, clusterBytes);
    if (dir.size() < clusterBytes) break;
    const DirScan s = scanFatEntries(dir);
    if (s.label) return s.label;
    if (s.ended) break;
    const QByteArray next = dev.read(qint64(reserved) * bps + qint64(cluster) * 4, 4);
    if (next.size() < 4) break;
    cluster = le32(next, 0) & 0x0FFFFFFF;
  }
  return bootLabel;
}

std::optional<QString> exfatLabel(const RawDevice &dev, const QByteArray &boot) {
  const int bpsShift = quint8(boot[108]), spcShift = quint8(boot[109]);
  if (bpsShift < 9 || bpsShift > 12 || spcShift > 25 - bpsShift) return std::nullopt;
  const qint64 bps = qint64(1) << bpsShift, clusterBytes = bps << spcShift;
  const qint64 fatAt = qint64(le32(boot, 80)) * bps, heapAt = qint64(le32(boot, 88)) * bps;
  quint32 cluster = le32(boot, 96);
  for (int hops = 0; hops < 4096 && cluster >= 2 && cluster < 0xFFFFFFF7; ++hops) {
    // Clusters can be large; the label entry sits near the start, so read in pieces.
    for (qint64 piece = 0; piece < clusterBytes; piece += 4096) {
      const QByteArray dir = dev.read(heapAt + qint64(cluster - 2) * clusterBytes + piece, qMin<qint64>(4096, clusterBytes - piece));
      if (dir.isEmpty()) return std::nullopt;
      for (int at = 0; at + 32 <= dir.size(); at += 32) {
        const quint8 type = quint8(dir[at]);
        if (type == 0x00) return QString();  // end of the folder: no label
        if (type == 0x83) {
          const int count = qMin(11, int(quint8(dir[at + 1])));
          QString label;
          for (int i = 0; i < count; ++i) label.append(QChar(char16_t(le16(dir, at + 2 + 2 * i))));
          return label;
        }
        if (type == 0x03) return QString();  // a label entry holding no label
      }
    }
    const QByteArray next = dev.read(fatAt + qint64(cluster) * 4, 4);
    if (next.size() < 4) break;
    cluster = le32(next, 0);
  }
  return QString();
}

FatKind kindFromFsType(const Target &t) {
  const QString fs = t.fsType.toLower();
  if (fs == QLatin1String("vfat") || fs == QLatin1String("msdos") || fs == QLatin1String("fat")) return FatKind::Fat;
  if (t.marked && fs == QLatin1String("fuse.fusefat")) return FatKind::Fat;
  if (fs == QLatin1String("exfat") || fs == QLatin1String("fuse.exfat")) return FatKind::ExFat;
  return FatKind::Unknown;
}

// The file system kind, from the boot sector when the device can be read, else from the mount table.
FatKind kindOf(const Target &t) {
  if (!t.device.isEmpty()) {
    RawDevice dev(t.device);
    if (dev.ok()) {
      const FatKind k = probeBootSector(dev.read(0, 512));
      if (k != FatKind::Unknown) return k;
    }
  }
  return kindFromFsType(t);
}

// ---- running the desktop's tools ----

QString findTool(const QString &name) {
  QString path = QStandardPaths::findExecutable(name);
  // The FAT tools live in sbin, which a user's PATH often leaves out.
  if (path.isEmpty()) path = QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
  return path;
}

struct ToolRun {
  bool ok = false;
  QString out;
  QString error;  // why it failed, for the user
};

// Runs a tool without a shell, keeping the event loop going while it works.
ToolRun runTool(const QString &name, const QStringList &args, int timeoutMs, bool quietOutput = false) {
  ToolRun r;
  const QString program = findTool(name);
  if (program.isEmpty()) {
    r.error = QStringLiteral("%1 is not installed").arg(name);
    return r;
  }
  QProcess p;
  // A tool that leaves a daemon behind (a FUSE mount) must not tie the daemon to our pipes: it would die
  // writing to them once we stop reading. Its error text goes through a file instead.
  QTemporaryFile errorFile;
  if (quietOutput) {
    p.setStandardOutputFile(QProcess::nullDevice());
    if (errorFile.open()) p.setStandardErrorFile(errorFile.fileName());
    else p.setStandardErrorFile(QProcess::nullDevice());
  }
  p.start(program, args);
  if (!p.waitForStarted(10000)) {
    r.error = QStringLiteral("%1 could not be started: %2").arg(name, p.errorString());
    return r;
  }
  QElapsedTimer clock;
  clock.start();
  while (!p.waitForFinished(50)) {
    if (p.state() == QProcess::NotRunning) break;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (clock.elapsed() > timeoutMs) {
      p.kill();
      p.waitForFinished(5000);
      r.error = QStringLiteral("%1 did not finish in time").arg(name);
      return r;
    }
  }
  if (!quietOutput) r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
  const QString err = QString::fromLocal8Bit(quietOutput ? errorFile.readAll() : p.readAllStandardError()).trimmed();
  r.ok = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
  if (!r.ok) {
    const QString detail = !err.isEmpty() ? err : r.out.trimmed();
    r.error = detail.isEmpty() ? QStringLiteral("%1 failed (exit code %2)").arg(name).arg(p.exitCode())
                               : QStringLiteral("%1: %2").arg(name, detail);
  }
  return r;
}

// Waits until the mount at root is there (or gone), woken by the kernel's notice that the mount table changed.
bool waitForMount(const QString &root, bool mounted, int timeoutMs) {
  const int fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
  QElapsedTimer clock;
  clock.start();
  bool reached = mountAt(root).found == mounted;
  while (!reached && clock.elapsed() < timeoutMs) {
    if (fd >= 0) {
      char buf[4096];
      ::lseek(fd, 0, SEEK_SET);
      while (::read(fd, buf, sizeof buf) > 0) {
      }
      pollfd pfd{fd, POLLPRI, 0};
      ::poll(&pfd, 1, 50);  // a bounded wait so that events keep flowing; the check below decides
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    reached = mountAt(root).found == mounted;
  }
  if (fd >= 0) ::close(fd);
  return reached;
}

QString linkTarget(const QByteArray &path) {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink(path.constData(), buf, sizeof buf - 1);
  return n > 0 ? QFile::decodeName(QByteArray(buf, int(n))) : QString();
}

// Unmounts an image volume. Right after a file on it was closed the FUSE daemon may not have answered the
// kernel's release yet, and another program may be reading every volume's size as the mount table changes
// (a file manager's mount watcher): either makes an unmount fail as busy for a moment, so it is tried again
// while the volume is still there.
ToolRun unmountImage(const QString &root, const QString &fusermount) {
  QElapsedTimer clock;
  clock.start();
  for (;;) {
    ToolRun u = runTool(fusermount, {QStringLiteral("-u"), root}, 60000);
    if (u.ok || !mountAt(root).found) {
      u.ok = true;
      return u;
    }
    if (clock.elapsed() > 15000) {
      QStringList users;
      for (const VolumeUser &v : volumeUsers(root)) users << QStringLiteral("%1 (pid %2: %3)").arg(v.name).arg(v.pid).arg(v.what);
      if (!users.isEmpty()) u.error += QStringLiteral("; it is in use by ") + users.join(QStringLiteral(", "));
      return u;
    }
    waitForMount(root, false, 100);
  }
}

// ---- labels: what each file system accepts ----

// FAT labels: up to 11 characters of plain ASCII, without the characters the desktop refuses in names.
QString fatLabelProblem(const QString &label) {
  if (label.size() > 11) return QStringLiteral("The label \"%1\" is longer than the 11 characters a FAT volume label can hold").arg(label);
  static const QString forbidden = QStringLiteral("\"*+,./:;<=>?[\\]|");
  for (const QChar c : label) {
    if (c.unicode() < 0x20 || c.unicode() >= 0x7F) return QStringLiteral("The label \"%1\" holds a character a FAT volume label cannot hold (only plain ASCII letters, digits and signs)").arg(label);
    if (forbidden.contains(c)) return QStringLiteral("The label \"%1\" holds \"%2\", which a FAT volume label cannot hold").arg(label, c);
  }
  return {};
}

QString exfatLabelProblem(const QString &label) {
  if (label.size() > 11) return QStringLiteral("The label \"%1\" is longer than the 11 characters an exFAT volume label can hold").arg(label);
  static const QString forbidden = QStringLiteral("\"*/:<>?\\|");
  for (const QChar c : label) {
    if (c.unicode() < 0x20) return QStringLiteral("The label \"%1\" holds a control character").arg(label);
    if (forbidden.contains(c)) return QStringLiteral("The label \"%1\" holds \"%2\", which an exFAT volume label cannot hold").arg(label, c);
  }
  return {};
}

// Trailing blanks are padding on FAT, and lower case is stored as capitals.
QString normalizedFatLabel(const QString &label) {
  QString l = label.toUpper();
  while (l.endsWith(QLatin1Char(' '))) l.chop(1);
  return l;
}

QString labelFromByLabelLinks(const QString &device) {
  const QDir dir(QStringLiteral("/dev/disk/by-label"));
  for (const QFileInfo &link : dir.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
    if (link.canonicalFilePath() == device) return unescapeBytes(QFile::encodeName(link.fileName()), true);
  }
  return {};
}

// ---- the desktop's disk service (udisks2 on the system bus) ----

const QString kUdisks = QStringLiteral("org.freedesktop.UDisks2");

struct BusCall {
  enum Kind { Ok, NoService, Cancelled, Failed } kind = Failed;
  QString error;
  QDBusMessage reply;
};

// Calls the disk service asynchronously and keeps the event loop running until the answer comes, so the
// window repaints while a stick is formatted or the user answers the authentication prompt.
BusCall callUdisks(const QString &path, const QString &interface, const QString &method, const QVariantList &args,
                   int timeoutMs) {
  BusCall c;
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected()) {
    c.kind = BusCall::NoService;
    c.error = QStringLiteral("The system bus is not running");
    return c;
  }
  QDBusMessage m = QDBusMessage::createMethodCall(kUdisks, path, interface, method);
  m.setArguments(args);
  m.setInteractiveAuthorizationAllowed(true);
  QDBusPendingCallWatcher watcher(bus.asyncCall(m, timeoutMs));
  if (!watcher.isFinished()) {
    QEventLoop loop;
    QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
    loop.exec();
  }
  c.reply = watcher.reply();
  if (!watcher.isError()) {
    c.kind = BusCall::Ok;
    return c;
  }
  const QString name = watcher.error().name();
  c.error = watcher.error().message().isEmpty() ? name : watcher.error().message();
  if (name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
      name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner") ||
      name == QLatin1String("org.freedesktop.DBus.Error.Spawn.ServiceNotFound"))
    c.kind = BusCall::NoService;
  else if (name == QLatin1String("org.freedesktop.UDisks2.Error.NotAuthorizedDismissed") ||
           name == QLatin1String("org.freedesktop.UDisks2.Error.Cancelled"))
    c.kind = BusCall::Cancelled;
  else
    c.kind = BusCall::Failed;
  return c;
}

using InterfaceMap = QMap<QString, QVariantMap>;
using ManagedObjects = QMap<QDBusObjectPath, InterfaceMap>;

// The service's block object for a device node: asked directly, or found among all its objects on
// services too old to answer that.
struct BlockObject {
  BusCall::Kind kind = BusCall::Failed;
  QString path;
  QString error;
};

BlockObject udisksBlockFor(const QString &device) {
  BlockObject b;
  QVariantMap spec;
  spec.insert(QStringLiteral("path"), device);
  BusCall c = callUdisks(QStringLiteral("/org/freedesktop/UDisks2/Manager"), QStringLiteral("org.freedesktop.UDisks2.Manager"),
                         QStringLiteral("ResolveDevice"), {spec, QVariantMap()}, 30000);
  if (c.kind == BusCall::Ok && !c.reply.arguments().isEmpty()) {
    const auto paths = qdbus_cast<QList<QDBusObjectPath>>(c.reply.arguments().constFirst());
    if (!paths.isEmpty()) {
      b.kind = BusCall::Ok;
      b.path = paths.constFirst().path();
      return b;
    }
  }
  if (c.kind == BusCall::NoService || c.kind == BusCall::Cancelled) {
    b.kind = c.kind;
    b.error = c.error;
    return b;
  }
  qDBusRegisterMetaType<InterfaceMap>();
  qDBusRegisterMetaType<ManagedObjects>();
  c = callUdisks(QStringLiteral("/org/freedesktop/UDisks2"), QStringLiteral("org.freedesktop.DBus.ObjectManager"),
                 QStringLiteral("GetManagedObjects"), {}, 30000);
  if (c.kind != BusCall::Ok || c.reply.arguments().isEmpty()) {
    b.kind = c.kind == BusCall::Ok ? BusCall::Failed : c.kind;
    b.error = c.error;
    return b;
  }
  const ManagedObjects objects = qdbus_cast<ManagedObjects>(c.reply.arguments().constFirst());
  for (auto it = objects.cbegin(); it != objects.cend(); ++it) {
    const QVariantMap block = it.value().value(QStringLiteral("org.freedesktop.UDisks2.Block"));
    QByteArray node = block.value(QStringLiteral("Device")).toByteArray();
    if (node.endsWith('\0')) node.chop(1);
    if (!node.isEmpty() && resolveDevice(QFile::decodeName(node)) == device) {
      b.kind = BusCall::Ok;
      b.path = it.key().path();
      return b;
    }
  }
  b.error = QStringLiteral("The disk service does not know the device %1").arg(device);
  return b;
}

bool setLabelWithTool(const Target &t, FatKind kind, const QString &label, QString *error) {
  QStringList args;
  const QString tool = kind == FatKind::Fat ? QStringLiteral("fatlabel") : QStringLiteral("exfatlabel");
  if (kind == FatKind::Fat && label.isEmpty())
    args << QStringLiteral("-r") << t.device;
  else
    args << t.device << label;
  const ToolRun r = runTool(tool, args, 60000);
  if (!r.ok && error) *error = r.error;
  return r.ok;
}

FormatResult formatImage(const Target &t, const QString &label, QString *newRoot, QString *error) {
  auto fail = [error](const QString &why) {
    if (error) *error = why;
    return FormatResult::Failed;
  };
  if (t.mounted) {
    const QString fusermount = findTool(QStringLiteral("fusermount")).isEmpty() ? QStringLiteral("fusermount3") : QStringLiteral("fusermount");
    const ToolRun u = unmountImage(t.root, fusermount);
    if (!u.ok) return fail(QStringLiteral("The volume at %1 could not be unmounted: %2").arg(t.root, u.error));
    if (!waitForMount(t.root, false, 30000)) return fail(QStringLiteral("The volume at %1 stayed mounted").arg(t.root));
    // Let mount watchers see the volume go: the kernel reuses mount ids, so a quick remount would look
    // like nothing happened.
    QCoreApplication::processEvents();
  }
  const ToolRun mk = runTool(QStringLiteral("mkfs.fat"), {QStringLiteral("-n"), label, t.device}, 600000);
  // Mount again even when formatting failed: the old contents may still be there.
  const ToolRun mount = runTool(QStringLiteral("fusefat"), {QStringLiteral("-o"), QStringLiteral("rw+"), t.device, t.root}, 60000, true);
  const bool back = mount.ok && waitForMount(t.root, true, 30000);
  if (!mk.ok) return fail(QStringLiteral("The volume at %1 could not be formatted: %2").arg(t.root, mk.error));
  if (!back) return fail(QStringLiteral("The volume was formatted but could not be mounted again at %1: %2").arg(t.root, mount.ok ? QStringLiteral("it did not appear") : mount.error));
  if (newRoot) *newRoot = t.root;
  return FormatResult::Done;
}

FormatResult formatThroughUdisks(const Target &t, const QString &label, QString *newRoot, QString *error) {
  auto outcome = [error](const BusCall::Kind kind, const QString &what, const QString &why) {
    if (error) *error = what.arg(why);
    switch (kind) {
      case BusCall::NoService: return FormatResult::Unavailable;
      case BusCall::Cancelled: return FormatResult::Cancelled;
      default: return FormatResult::Failed;
    }
  };
  const BlockObject block = udisksBlockFor(t.device);
  if (block.kind != BusCall::Ok) return outcome(block.kind, QStringLiteral("The disk service cannot reach the device: %1"), block.error);
  const QString fsIface = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
  if (t.mounted) {
    const BusCall u = callUdisks(block.path, fsIface, QStringLiteral("Unmount"), {QVariantMap()}, 120000);
    if (u.kind != BusCall::Ok) return outcome(u.kind, QStringLiteral("The volume could not be unmounted: %1"), u.error);
    QCoreApplication::processEvents();  // mount watchers see the volume go
  }
  QVariantMap options;
  options.insert(QStringLiteral("label"), label);
  options.insert(QStringLiteral("update-partition-type"), true);
  // Formatting a large stick takes a while; the service answers when the new file system is there.
  const BusCall f = callUdisks(block.path, QStringLiteral("org.freedesktop.UDisks2.Block"), QStringLiteral("Format"),
                               {QStringLiteral("vfat"), options}, 3600000);
  if (f.kind != BusCall::Ok) {
    // Cancelled or refused: the old contents are still there, so the volume goes back where it was.
    if (t.mounted) callUdisks(block.path, fsIface, QStringLiteral("Mount"), {QVariantMap()}, 120000);
    return outcome(f.kind, QStringLiteral("The volume could not be formatted: %1"), f.error);
  }
  const BusCall m = callUdisks(block.path, fsIface, QStringLiteral("Mount"), {QVariantMap()}, 120000);
  if (m.kind != BusCall::Ok) return outcome(m.kind, QStringLiteral("The volume was formatted but could not be mounted: %1"), m.error);
  const QString where = m.reply.arguments().isEmpty() ? QString() : m.reply.arguments().constFirst().toString();
  if (where.isEmpty()) return outcome(BusCall::Failed, QStringLiteral("The volume was formatted but %1"), QStringLiteral("the disk service named no mount point"));
  if (newRoot) *newRoot = where;
  return FormatResult::Done;
}

}  // namespace

bool isRemovableBlockDevice(const QString &device, const QString &sysRoot) {
  const QString name = QFileInfo(device).fileName();
  if (name.isEmpty()) return false;
  const QString sys = QFileInfo(sysRoot).canonicalFilePath();
  QString node = QFileInfo(sysRoot + QStringLiteral("/class/block/") + name).canonicalFilePath();
  if (sys.isEmpty() || node.isEmpty()) return false;
  // A partition's folder sits inside its disk's.
  if (QFileInfo::exists(node + QStringLiteral("/partition"))) node = QFileInfo(node + QStringLiteral("/..")).canonicalFilePath();
  const QString disk = QFileInfo(node).fileName();
  QFile removable(sysRoot + QStringLiteral("/block/") + disk + QStringLiteral("/removable"));
  if (removable.open(QIODevice::ReadOnly) && removable.readAll().trimmed() == "1") return true;
  // Many USB sticks and card readers call their media fixed; the bus tells the truth.
  const QString busPath = node.mid(sys.size());
  return busPath.contains(QLatin1String("/usb")) || busPath.contains(QLatin1String("/mmc"));
}

QList<VolumeUser> volumeUsers(const QString &rootIn) {
  const QString root = cleanRoot(rootIn);
  const QString prefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
  auto inside = [&](const QString &path) { return path == root || path.startsWith(prefix); };
  QList<VolumeUser> out;
  const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  for (const QString &pidText : pids) {
    bool isPid = false;
    const qint64 pid = pidText.toLongLong(&isPid);
    if (!isPid) continue;
    const QByteArray base = "/proc/" + pidText.toLatin1();
    QStringList what;
    if (inside(linkTarget(base + "/cwd"))) what << QStringLiteral("working folder");
    if (inside(linkTarget(base + "/root"))) what << QStringLiteral("root folder");
    const QStringList fds = QDir(QFile::decodeName(base + "/fd")).entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    for (const QString &fd : fds) {
      const QString target = linkTarget(base + "/fd/" + fd.toLatin1());
      if (inside(target)) what << QStringLiteral("open file ") + target;
    }
    QFile maps(QFile::decodeName(base + "/maps"));
    if (maps.open(QIODevice::ReadOnly)) {
      for (const QByteArray &line : maps.readAll().split('\n')) {
        const int slash = line.indexOf('/');
        if (slash < 0) continue;
        const QString mapped = QFile::decodeName(line.mid(slash));
        if (inside(mapped) && !what.contains(QStringLiteral("mapped file ") + mapped)) what << QStringLiteral("mapped file ") + mapped;
      }
    }
    if (what.isEmpty()) continue;
    QFile comm(QFile::decodeName(base + "/comm"));
    const QString name = comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll()).trimmed() : QString();
    out << VolumeUser{pid, name.isEmpty() ? pidText : name, what.join(QStringLiteral(", "))};
  }
  return out;
}

bool isRemovableVolume(const QString &root) {
  const Target t = targetOf(root);
  if (t.marked) return true;
  if (!t.mounted || !t.device.startsWith(QLatin1String("/dev/"))) return false;
  return isRemovableBlockDevice(t.device);
}

QString readVolumeLabel(const QString &root) {
  const Target t = targetOf(root);
  if (t.device.isEmpty()) return {};
  RawDevice dev(t.device);
  if (dev.ok()) {
    const QByteArray boot = dev.read(0, 512);
    std::optional<QString> label;
    switch (probeBootSector(boot)) {
      case FatKind::Fat: label = fatLabel(dev, boot); break;
      case FatKind::ExFat: label = exfatLabel(dev, boot); break;
      case FatKind::Unknown: break;
    }
    if (label) return *label;
  }
  const FatKind kind = kindFromFsType(t);
  if (kind == FatKind::Fat) {
    const ToolRun r = runTool(QStringLiteral("fatlabel"), {t.device}, 30000);
    if (r.ok) return r.out.trimmed();
  } else if (kind == FatKind::ExFat) {
    const ToolRun r = runTool(QStringLiteral("exfatlabel"), {t.device}, 30000);
    if (r.ok) {
      for (const QString &line : r.out.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("label: "))) return line.mid(7).trimmed();
    }
  }
  return labelFromByLabelLinks(t.device);
}

bool setVolumeLabel(const QString &root, const QString &labelIn, QString *error) {
  auto fail = [error](const QString &why) {
    if (error) *error = why;
    return false;
  };
  const Target t = targetOf(root);
  if (t.device.isEmpty()) return fail(QStringLiteral("No device is known for the volume at %1").arg(t.root));
  const FatKind kind = kindOf(t);
  QString label = labelIn;
  if (kind != FatKind::Unknown) {
    if (kind == FatKind::Fat) label = normalizedFatLabel(labelIn);
    const QString problem = kind == FatKind::Fat ? fatLabelProblem(label) : exfatLabelProblem(label);
    if (!problem.isEmpty()) return fail(problem);
  }
  // The disk service first: it knows every file system and asks for rights when the device needs them.
  QString serviceError;
  if (!t.image) {
    const BlockObject block = udisksBlockFor(t.device);
    if (block.kind == BusCall::Cancelled) return fail(QStringLiteral("Setting the label was cancelled"));
    if (block.kind == BusCall::Ok) {
      const BusCall c = callUdisks(block.path, QStringLiteral("org.freedesktop.UDisks2.Filesystem"), QStringLiteral("SetLabel"),
                                   {label, QVariantMap()}, 120000);
      if (c.kind == BusCall::Ok) return true;
      if (c.kind == BusCall::Cancelled) return fail(QStringLiteral("Setting the label was cancelled"));
      if (c.kind == BusCall::Failed) serviceError = c.error;
    } else if (block.kind == BusCall::Failed) {
      serviceError = block.error;
    }
  }
  QString toolError;
  if (kind == FatKind::Unknown) {
    toolError = QStringLiteral("Only FAT and exFAT volumes take a label without the disk service; the volume at %1 is %2")
                    .arg(t.root, t.fsType.isEmpty() ? QStringLiteral("of an unknown kind") : t.fsType);
  } else if (setLabelWithTool(t, kind, label, &toolError)) {
    return true;
  }
  return fail(serviceError.isEmpty() ? toolError : QStringLiteral("%1 (disk service: %2)").arg(toolError, serviceError));
}

FormatResult formatVolume(const QString &root, const QString &labelIn, QString *newRoot, QString *error) {
  const Target t = targetOf(root);
  // Formatting wipes the volume: never do it to a fixed disk, whatever the caller asked.
  if (!isRemovableVolume(t.root)) {
    if (error) *error = QStringLiteral("The volume at %1 is not removable and is not formatted").arg(t.root);
    return FormatResult::Failed;
  }
  const QString label = normalizedFatLabel(labelIn);
  const QString problem = fatLabelProblem(label);
  if (!problem.isEmpty()) {
    if (error) *error = problem;
    return FormatResult::Failed;
  }
  if (t.device.isEmpty()) {
    if (error) *error = QStringLiteral("No device is known for the volume at %1").arg(t.root);
    return FormatResult::Failed;
  }
  if (t.image) return formatImage(t, label, newRoot, error);
  return formatThroughUdisks(t, label, newRoot, error);
}

}  // namespace platform
