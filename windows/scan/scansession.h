#pragma once
// One session with the scanner library (SANE): the devices, one open device, its scan options, and a scan
// read into an image. No widgets; a scan blocks its caller, so the window runs it on a worker thread.
#include <QImage>
#include <QMap>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

namespace scan {

struct Device {
  QString name;   // what the library opens ("test:0", "epson2:libusb:001:004")
  QString label;  // vendor, model and type, for the user
};

// What the acquisition dialog offers: the device's modes, resolutions and scan area.
struct Options {
  QStringList modes;
  QString mode;
  QList<int> resolutions;  // the device's list, or a few steps across its range
  int resolution = 0;
  QRectF maxAreaMm;  // the largest area, in millimetres (empty when the device has no area options)
  QRectF areaMm;
};

// What a scan is made with: mode, resolution and area, and any other option by its name (for the few a
// user or a test needs beyond those: "test-picture" and the like).
struct Settings {
  QString mode;
  int resolution = 0;
  QRectF areaMm;  // empty: the device's whole area
  QMap<QString, QString> extra;
};

struct Result {
  QImage image;        // null when nothing came back
  bool cancelled = false;
  int status = 0;      // the library's status of the failure (0 when none)
  QString error;       // one sentence for a message box, with the library's status text
};

// The library's name for a status ("SANE_STATUS_IO_ERROR") and its text ("Error during device I/O").
QString statusName(int status);
QString statusText(int status);

class Session {
 public:
  Session();   // initialises the library
  ~Session();  // closes the device and releases the library
  Session(const Session &) = delete;
  Session &operator=(const Session &) = delete;

  // False when the library could not be initialised (no scanner support on this machine).
  bool available() const { return ok_; }
  QList<Device> devices(int *status = nullptr);
  // Opens a device by name (empty: the first one). False with *status when it cannot be opened.
  bool open(const QString &name, int *status = nullptr);
  bool isOpen() const { return handle_ != nullptr; }
  QString deviceName() const { return device_; }
  Options options();
  // Sets the options; false with *error naming the option that the device refused.
  bool apply(const Settings &s, QString *error);
  // Scans one page. progress(bytes read, bytes expected or -1) is called from the calling thread; a set
  // cancel flag stops the scan at the next block.
  Result scan(const std::function<void(qint64, qint64)> &progress, const std::atomic_bool &cancel);
  void close();

 private:
  bool setOption(const QString &name, const QString &value, QString *error);
  int optionIndex(const QString &name);

  bool ok_ = false;
  void *handle_ = nullptr;
  QString device_;
};

}  // namespace scan
