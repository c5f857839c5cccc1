// Formatting and labelling through the desktop's disk service, against a stand-in for the service on a
// private message bus: the calls it receives, their order and options, and how its answers come back.
#include <gtest/gtest.h>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QStandardPaths>
#include <csignal>
#include <cstdlib>
#include "platform/removable.h"
#include "tests/common/testenv.h"

namespace {

const QString kBlock = "/org/freedesktop/UDisks2/block_devices/sdz1";
const QString kDevice = "/dev/tarnwick-test-sdz1";

// Answers as the disk service would, and records what it was asked.
class FakeDiskService : public QDBusVirtualObject {
 public:
  QStringList calls;  // "Interface.Member object"
  QString failMember, failName;
  QString formatType;
  QVariantMap formatOptions;
  QString labelSet;
  bool formatMayAskForRights = false;

  bool handleMessage(const QDBusMessage &m, const QDBusConnection &bus) override {
    const QString iface = m.interface().section('.', -1);
    calls << iface + "." + m.member() + " " + m.path();
    if (m.member() == failMember) return bus.send(m.createErrorReply(failName, "refused by the test service"));
    if (m.member() == "ResolveDevice") {
      const QVariantMap spec = qdbus_cast<QVariantMap>(m.arguments().value(0));
      QList<QDBusObjectPath> found;
      if (spec.value("path").toString() == kDevice) found << QDBusObjectPath(kBlock);
      return bus.send(m.createReply(QVariant::fromValue(found)));
    }
    if (m.member() == "Format") {
      formatType = m.arguments().value(0).toString();
      formatOptions = qdbus_cast<QVariantMap>(m.arguments().value(1));
      formatMayAskForRights = m.isInteractiveAuthorizationAllowed();
      return bus.send(m.createReply());
    }
    if (m.member() == "Mount") return bus.send(m.createReply(QString("/media/tester/PKBACK# 001")));
    if (m.member() == "SetLabel") {
      labelSet = m.arguments().value(0).toString();
      return bus.send(m.createReply());
    }
    if (m.member() == "Unmount") return bus.send(m.createReply());
    return bus.send(m.createErrorReply(QDBusError::UnknownMethod, "not in the test service"));
  }
  QString introspect(const QString &) const override { return {}; }
};

// One private bus per test process, standing in for the system bus from the first use on (the program
// connects to the system bus once and keeps the connection).
QString privateBus() {
  static pid_t pid = 0;
  static const QString address = [] {
    auto *daemon = new QProcess;  // lives as long as the process
    daemon->start(QStandardPaths::findExecutable("dbus-daemon"), {"--session", "--nofork", "--nopidfile", "--print-address=1"});
    if (!daemon->waitForStarted(10000)) return QString();
    pid = pid_t(daemon->processId());
    std::atexit([] {
      if (pid > 0) ::kill(pid, SIGTERM);
    });
    if (!testenv::waitFor([&] { return daemon->canReadLine(); }, 10000)) return QString();
    const QString a = QString::fromUtf8(daemon->readLine()).trimmed();
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", a.toUtf8());
    return a;
  }();
  return address;
}

class DiskService : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QStandardPaths::findExecutable("dbus-daemon").isEmpty()) GTEST_SKIP() << "dbus-daemon is not installed";
    const QString address = privateBus();
    ASSERT_FALSE(address.isEmpty()) << "the private bus did not start";
    bus_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, "tarnwick-test-disks"));
    ASSERT_TRUE(bus_->isConnected());
    ASSERT_TRUE(bus_->registerVirtualObject("/org/freedesktop/UDisks2", &service_, QDBusConnection::SubPath));
    ASSERT_TRUE(bus_->registerService("org.freedesktop.UDisks2"));
    // /proc is a mount root everywhere and nothing can format it, should the switch ever be ignored.
    qputenv("TARNWICK_REMOVABLE_VOLUMES", ("/proc=" + kDevice).toUtf8());
  }
  void TearDown() override {
    qunsetenv("TARNWICK_REMOVABLE_VOLUMES");
    if (bus_) {
      bus_->unregisterService("org.freedesktop.UDisks2");
      bus_->unregisterObject("/org/freedesktop/UDisks2", QDBusConnection::UnregisterTree);
      bus_.reset();
      QDBusConnection::disconnectFromBus("tarnwick-test-disks");
    }
  }
  FakeDiskService service_;
  std::unique_ptr<QDBusConnection> bus_;
};

TEST_F(DiskService, FormatUnmountsFormatsAsFatWithTheLabelAndMountsAgain) {
  QString newRoot, error;
  ASSERT_EQ(platform::formatVolume("/proc", "PKBACK# 001", &newRoot, &error), platform::FormatResult::Done) << error.toStdString();
  EXPECT_EQ(newRoot, "/media/tester/PKBACK# 001");
  EXPECT_EQ(service_.calls, QStringList({"Manager.ResolveDevice /org/freedesktop/UDisks2/Manager", "Filesystem.Unmount " + kBlock,
                                         "Block.Format " + kBlock, "Filesystem.Mount " + kBlock}));
  EXPECT_EQ(service_.formatType, "vfat");
  EXPECT_EQ(service_.formatOptions.value("label").toString(), "PKBACK# 001");
  EXPECT_EQ(service_.formatOptions.value("update-partition-type"), QVariant(true));
  EXPECT_TRUE(service_.formatMayAskForRights) << "the service could not ask the user for the right to format";
}

TEST_F(DiskService, ADismissedPromptCancelsAndTheVolumeIsMountedAgain) {
  for (const QString name : {"org.freedesktop.UDisks2.Error.NotAuthorizedDismissed", "org.freedesktop.UDisks2.Error.Cancelled"}) {
    service_.calls.clear();
    service_.failMember = "Format";
    service_.failName = name;
    QString newRoot, error;
    EXPECT_EQ(platform::formatVolume("/proc", "PKBACK# 001", &newRoot, &error), platform::FormatResult::Cancelled) << name.toStdString();
    EXPECT_EQ(service_.calls.value(service_.calls.size() - 1), "Filesystem.Mount " + kBlock) << "left unmounted after " << name.toStdString();
  }
}

TEST_F(DiskService, AServiceErrorFailsWithItsTextAndAMissingServiceIsUnavailable) {
  service_.failMember = "Unmount";
  service_.failName = "org.freedesktop.UDisks2.Error.DeviceBusy";
  QString newRoot, error;
  EXPECT_EQ(platform::formatVolume("/proc", "PKBACK# 001", &newRoot, &error), platform::FormatResult::Failed);
  EXPECT_TRUE(error.contains("refused by the test service")) << error.toStdString();
  EXPECT_FALSE(service_.calls.join(' ').contains("Format")) << "formatted a volume that was still mounted";

  bus_->unregisterService("org.freedesktop.UDisks2");
  EXPECT_EQ(platform::formatVolume("/proc", "PKBACK# 001", &newRoot, &error), platform::FormatResult::Unavailable) << error.toStdString();
}

TEST_F(DiskService, LabelsGoThroughTheServiceFirst) {
  QString error;
  ASSERT_TRUE(platform::setVolumeLabel("/proc", "PKBACK# 004", &error)) << error.toStdString();
  EXPECT_EQ(service_.labelSet, "PKBACK# 004");
  EXPECT_EQ(service_.calls.value(1), "Filesystem.SetLabel " + kBlock);

  service_.failMember = "SetLabel";
  service_.failName = "org.freedesktop.UDisks2.Error.NotAuthorizedDismissed";
  EXPECT_FALSE(platform::setVolumeLabel("/proc", "PKBACK# 005", &error));
  EXPECT_TRUE(error.contains("cancelled")) << error.toStdString();
  // Refused by the service on a file system our tools cannot label: both reasons reach the user.
  service_.failName = "org.freedesktop.UDisks2.Error.Failed";
  EXPECT_FALSE(platform::setVolumeLabel("/proc", "PKBACK# 005", &error));
  EXPECT_TRUE(error.contains("refused by the test service") && error.contains("Only FAT and exFAT")) << error.toStdString();
}

}  // namespace
