// SVG pictures through the guarded reader: a plain one and a compressed one drawn right and scaled to the room
// asked for, and hostile ones (entity expansion, a huge canvas, a cut file, references out of the file, shapes
// multiplied by <use>, a compressed bomb) refused or tamed with a message, nothing fetched or read.
#include "formats/raster/imageio.h"
#include "formats/raster/svgsafe.h"

#include "tests/common/testenv.h"

#include <QImage>
#include <QTcpServer>
#include <gtest/gtest.h>

#include <zlib.h>

namespace {

QByteArray gzip(const QByteArray &data) {
  z_stream zs{};
  deflateInit2(&zs, 9, Z_DEFLATED, 16 + MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
  QByteArray out(int(deflateBound(&zs, uLong(data.size()))), '\0');
  zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
  zs.avail_in = uInt(data.size());
  zs.next_out = reinterpret_cast<Bytef *>(out.data());
  zs.avail_out = uInt(out.size());
  deflate(&zs, Z_FINISH);
  out.resize(qsizetype(zs.total_out));
  deflateEnd(&zs);
  return out;
}

const QByteArray kTwoHalves =
    "<?xml version=\"1.0\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"200\" height=\"100\">"
    "<rect width=\"100\" height=\"100\" fill=\"#ff0000\"/><rect x=\"100\" width=\"100\" height=\"100\" "
    "fill=\"#0000ff\"/></svg>";

}  // namespace

TEST(SvgPictures, DrawnAtTheirSizeOrScaledToTheRoomPlainOrCompressed) {
  const QString dir = testenv::makeDir("svg");
  for (const QString &name : {QStringLiteral("halves.svg"), QStringLiteral("halves.svgz")}) {
    const QString path = testenv::writeFile(dir + "/" + name, name.endsWith('z') ? gzip(kTwoHalves) : kTwoHalves);
    const imageio::Info info = imageio::info(path);
    ASSERT_TRUE(info.ok) << name.toStdString();
    EXPECT_EQ(info.type, "SVG");
    EXPECT_EQ(QSize(info.width, info.height), QSize(200, 100));
    QString error;
    QImage img = imageio::read(path, &error);
    ASSERT_FALSE(img.isNull()) << error.toStdString();
    EXPECT_EQ(img.size(), QSize(200, 100));
    EXPECT_EQ(img.pixel(50, 50), qRgb(255, 0, 0));
    EXPECT_EQ(img.pixel(150, 50), qRgb(0, 0, 255));
    imageio::ReadOptions o;
    o.room = QSize(50, 50);
    img = imageio::read(path, &error, o);
    EXPECT_EQ(img.size(), QSize(50, 25));
    EXPECT_EQ(img.pixel(40, 12), qRgb(0, 0, 255));
  }
}

TEST(SvgPictures, HostileFilesAreRefusedOrTamedWithAMessageAndNothingIsFetched) {
  const QString dir = testenv::makeDir("svghostile");
  auto refused = [&](const char *name, const QByteArray &bytes, const char *says) {
    const QString path = testenv::writeFile(dir + "/" + name, bytes);
    QString error;
    imageio::ReadOptions o;
    o.room = QSize(400, 300);
    const QImage img = imageio::read(path, &error, o);
    EXPECT_TRUE(img.isNull()) << name;
    EXPECT_TRUE(error.contains(name) && error.contains(says)) << name << ": " << error.toStdString();
    EXPECT_FALSE(imageio::info(path).ok) << name;
  };
  // Entity expansion: ten levels of ten, a billion "lol"s.
  QByteArray laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE svg [\n<!ENTITY lol0 \"lol\">\n";
  for (int i = 1; i <= 9; ++i) {
    laughs += "<!ENTITY lol" + QByteArray::number(i) + " \"";
    for (int j = 0; j < 10; ++j) laughs += "&lol" + QByteArray::number(i - 1) + ";";
    laughs += "\">\n";
  }
  laughs += "]>\n<svg xmlns=\"http://www.w3.org/2000/svg\"><text>&lol9;</text></svg>";
  refused("laughs.svg", laughs, "entities");
  // Cut short in the middle of an element, and cut at a tag.
  refused("cut.svg", kTwoHalves.left(kTwoHalves.size() - 40), "cut short");
  refused("cut2.svg", kTwoHalves.left(kTwoHalves.indexOf("<rect x")), "cut short");
  // <use> multiplying shapes: each level draws the last one ten times, 10^8 rectangles.
  QByteArray uses =
      "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\"><defs>"
      "<rect id=\"g0\" width=\"1\" height=\"1\"/>";
  for (int i = 1; i <= 8; ++i) {
    uses += "<g id=\"g" + QByteArray::number(i) + "\">";
    for (int j = 0; j < 10; ++j) uses += "<use xlink:href=\"#g" + QByteArray::number(i - 1) + "\"/>";
    uses += "</g>";
  }
  uses += "</defs><use xlink:href=\"#g8\"/></svg>";
  refused("uses.svg", uses, "repeats");
  refused("cycle.svg",
          "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\">"
          "<g id=\"a\"><use xlink:href=\"#b\"/></g><g id=\"b\"><use xlink:href=\"#a\"/></g></svg>",
          "circle");
  // A compressed bomb: 64 MB of blanks inflate past the bound.
  refused("bomb.svgz", gzip("<svg xmlns=\"http://www.w3.org/2000/svg\">" + QByteArray(64 << 20, ' ') + "</svg>"),
          "inflates");
  refused("notsvg.svg", "<html><body>no</body></html>", "not an SVG");

  // A canvas declared a trillion pixels wide is refused; a billion wide is drawn into the room, not allocated.
  refused("trillion.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"1e12\" height=\"10\"/>", "canvas");
  for (const char *size : {"1e9", "2e5"}) {
    const QString path =
        testenv::writeFile(dir + "/huge.svg", QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"") + size +
                                                  "\" height=\"" + size + "\"><rect width=\"" + size + "\" height=\"" +
                                                  size + "\" fill=\"#00ff00\"/></svg>");
    QString error;
    imageio::ReadOptions o;
    o.room = QSize(300, 200);
    const QImage img = imageio::read(path, &error, o);
    ASSERT_FALSE(img.isNull()) << size << error.toStdString();
    EXPECT_EQ(img.size(), QSize(200, 200)) << size;
    EXPECT_EQ(img.pixel(100, 100), qRgb(0, 255, 0)) << size;
    EXPECT_EQ(imageio::read(path, &error).size(), QSize(4096, 4096)) << "without a room: bounded all the same";
  }

  // References out of the file: a local picture (red) and a web server that counts its connections.
  QImage red(10, 10, QImage::Format_RGB32);
  red.fill(Qt::red);
  ASSERT_TRUE(red.save(dir + "/red.png"));
  QTcpServer server;
  ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
  const QByteArray port = QByteArray::number(server.serverPort());
  const QByteArray outside =
      "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\"40\" "
      "height=\"20\">"
      "<rect width=\"40\" height=\"20\" fill=\"#ffffff\"/>"
      "<image x=\"0\" width=\"10\" height=\"10\" xlink:href=\"file://" +
      dir.toUtf8() +
      "/red.png\"/>"
      "<image x=\"10\" width=\"10\" height=\"10\" href=\"red.png\"/>"
      "<image x=\"20\" width=\"10\" height=\"10\" xlink:href=\"http://127.0.0.1:" +
      port +
      "/x.png\"/>"
      "<style>@import url(http://127.0.0.1:" +
      port + "/s.css);</style></svg>";
  const imageio::SafeSvg safe = imageio::makeSafeSvg(outside);
  EXPECT_EQ(safe.droppedRefs, 3);
  EXPECT_FALSE(safe.bytes.contains("red.png"));
  QString error;
  const QImage img = imageio::read(testenv::writeFile(dir + "/outside.svg", outside), &error);
  ASSERT_FALSE(img.isNull()) << error.toStdString();
  for (int x : {5, 15, 25}) EXPECT_EQ(img.pixel(x, 5), qRgb(255, 255, 255)) << "something was read at x " << x;
  EXPECT_FALSE(server.waitForNewConnection(0)) << "the picture reached the network";
}
