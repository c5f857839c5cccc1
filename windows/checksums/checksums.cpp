#include "windows/checksums/checksums.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <openssl/evp.h>
#include <unistd.h>
#include <vector>

namespace checksums {

namespace {
// OpenSSL's digests: they use the processor's SHA instructions where it has them, at twice the speed of
// Qt's portable SHA-256 and of coreutils' sha256sum.
const EVP_MD *evpAlgo(Algo a) {
  switch (a) {
    case Algo::Md5: return EVP_md5();
    case Algo::Sha1: return EVP_sha1();
    case Algo::Sha512: return EVP_sha512();
    case Algo::Sha256: break;
  }
  return EVP_sha256();
}

bool isHex(const QByteArray &s) {
  for (char c : s)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  return !s.isEmpty();
}

std::optional<Algo> algoForLength(int n) {
  switch (n) {
    case 32: return Algo::Md5;
    case 40: return Algo::Sha1;
    case 64: return Algo::Sha256;
    case 128: return Algo::Sha512;
    default: return std::nullopt;
  }
}

// \\, \n and \r back to their bytes; false for any other escape.
bool unescape(const QByteArray &in, QByteArray &out) {
  out.clear();
  for (qsizetype i = 0; i < in.size(); ++i) {
    if (in[i] != '\\') {
      out += in[i];
      continue;
    }
    if (++i >= in.size()) return false;
    const char c = in[i];
    if (c == '\\')
      out += '\\';
    else if (c == 'n')
      out += '\n';
    else if (c == 'r')
      out += '\r';
    else
      return false;
  }
  return true;
}
}  // namespace

std::optional<Algo> algoForName(const QString &fileName) {
  const QString n = QFileInfo(fileName).fileName().toLower();
  struct Known {
    const char *stem;
    Algo a;
  };
  static const Known known[] = {
      {"md5", Algo::Md5}, {"sha1", Algo::Sha1}, {"sha256", Algo::Sha256}, {"sha512", Algo::Sha512}};
  for (const Known &k : known) {
    const QString stem = QLatin1String(k.stem);
    if (n == stem + QLatin1String("sums") || n == stem + QLatin1String("sum") || n.endsWith(QLatin1Char('.') + stem) ||
        n.endsWith(QLatin1Char('.') + stem + QLatin1String("sum")))
      return k.a;
  }
  return std::nullopt;
}

QString defaultFileName(Algo a) { return algoName(a) + QStringLiteral("SUMS"); }

int hexLength(Algo a) { return EVP_MD_get_size(evpAlgo(a)) * 2; }

QString algoName(Algo a) {
  switch (a) {
    case Algo::Md5: return QStringLiteral("MD5");
    case Algo::Sha1: return QStringLiteral("SHA1");
    case Algo::Sha512: return QStringLiteral("SHA512");
    case Algo::Sha256: break;
  }
  return QStringLiteral("SHA256");
}

Parsed parse(const QByteArray &text, std::optional<Algo> hint) {
  Parsed p;
  p.algo = hint;
  for (QByteArray l : text.split('\n')) {
    if (l.endsWith('\r')) l.chop(1);
    if (l.isEmpty() || l.startsWith('#')) continue;
    const bool escaped = l.startsWith('\\');
    if (escaped) l.remove(0, 1);
    QByteArray hex, name;
    // BSD form: ALGO (name) = hex
    const qsizetype open = l.indexOf(" (");
    const qsizetype close = l.lastIndexOf(") = ");
    if (open > 0 && close > open && !l.left(open).contains(' ') && isHex(l.mid(close + 4))) {
      hex = l.mid(close + 4);
      name = l.mid(open + 2, close - open - 2);
    } else {
      const qsizetype sp = l.indexOf(' ');
      if (sp <= 0 || sp + 2 > l.size() || (l[sp + 1] != ' ' && l[sp + 1] != '*')) {
        ++p.badLines;
        continue;
      }
      hex = l.left(sp);
      name = l.mid(sp + 2);
    }
    QByteArray plain;
    if (!isHex(hex) || name.isEmpty() || (escaped && !unescape(name, plain))) {
      ++p.badLines;
      continue;
    }
    if (!p.algo) p.algo = algoForLength(int(hex.size()));
    if (!p.algo || hex.size() != hexLength(*p.algo)) {
      ++p.badLines;
      continue;
    }
    p.entries.push_back({hex.toLower(), escaped ? plain : name});
  }
  return p;
}

QByteArray line(const QByteArray &hex, const QByteArray &name) {
  if (!name.contains('\\') && !name.contains('\n') && !name.contains('\r')) return hex + "  " + name + '\n';
  QByteArray e;
  for (char c : name) {
    if (c == '\\')
      e += "\\\\";
    else if (c == '\n')
      e += "\\n";
    else if (c == '\r')
      e += "\\r";
    else
      e += c;
  }
  return '\\' + hex + "  " + e + '\n';
}

Hash hashFile(const QByteArray &path, Algo a, const std::function<void(qint64)> &progress,
              const std::atomic_bool &cancel) {
  Hash h;
  const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    h.error = QString::fromLocal8Bit(std::strerror(errno));
    return h;
  }
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> digest(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (!digest || EVP_DigestInit_ex(digest.get(), evpAlgo(a), nullptr) != 1) {
    ::close(fd);
    h.error = QStringLiteral("the digest cannot be set up");
    return h;
  }
  std::vector<char> buf(1 << 20);
  for (;;) {
    if (cancel) {
      h.cancelled = true;
      break;
    }
    const ssize_t n = ::read(fd, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      h.error = QString::fromLocal8Bit(std::strerror(errno));
      break;
    }
    if (n == 0) {
      unsigned char md[EVP_MAX_MD_SIZE];
      unsigned int len = 0;
      if (EVP_DigestFinal_ex(digest.get(), md, &len) == 1)
        h.hex = QByteArray(reinterpret_cast<const char *>(md), int(len)).toHex();
      else
        h.error = QStringLiteral("the digest failed");
      break;
    }
    EVP_DigestUpdate(digest.get(), buf.data(), size_t(n));
    if (progress) progress(n);
  }
  ::close(fd);
  return h;
}

}  // namespace checksums
