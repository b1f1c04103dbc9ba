#include "remote/http_head.h"

#include <QFile>
#include <QRegularExpression>

namespace zanth {
namespace {

constexpr int kFirstArt = 129;
constexpr int kLastArt = 177;

const char* StatusText(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 304:
            return "Not Modified";
        case 400:
            return "Bad Request";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 503:
            return "Service Unavailable";
        default:
            return "Error";
    }
}

}  // namespace

HeadParse ParseHttpHead(const QByteArray& data, HttpHead* head) {
    const qsizetype end = data.indexOf("\r\n\r\n");
    if (end < 0) return data.size() > kHttpHeadLimit ? HeadParse::kBad : HeadParse::kIncomplete;
    if (end > kHttpHeadLimit) return HeadParse::kBad;
    const QList<QByteArray> lines = data.left(end).split('\n');
    const QList<QByteArray> request = lines.first().trimmed().split(' ');
    if (request.size() != 3 || !request[2].startsWith("HTTP/1.") || !request[1].startsWith('/'))
        return HeadParse::kBad;
    head->method = request[0];
    const qsizetype question = request[1].indexOf('?');
    head->path = request[1].left(question < 0 ? request[1].size() : question);
    head->query = question < 0 ? QByteArray() : request[1].mid(question + 1);
    head->fields.clear();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon <= 0) return HeadParse::kBad;
        const QByteArray name = lines[i].left(colon).trimmed().toLower();
        // A field given twice could say one thing to us and another to whoever reads it next.
        if (head->fields.contains(name)) return HeadParse::kBad;
        head->fields.insert(name, lines[i].mid(colon + 1).trimmed());
    }
    return HeadParse::kOk;
}

bool HostAllowed(const QByteArray& host, const QStringList& names, quint16 port) {
    const QString h = QString::fromLatin1(host).toLower();
    const qsizetype colon = h.lastIndexOf(':');
    // "[::1]:8765" and "127.0.0.1:8765": the port follows the last colon outside the brackets.
    if (colon < 0 || colon < h.lastIndexOf(']')) return false;
    bool ok = false;
    if (h.mid(colon + 1).toUInt(&ok) != port || !ok) return false;
    return names.contains(h.left(colon));
}

bool OriginAllowed(const QByteArray& origin, bool present, const QByteArray& host) {
    if (!present) return true;
    return origin.toLower() == "http://" + host.toLower();
}

QString ResourceFor(const QByteArray& path) {
    if (path == "/") return QStringLiteral(":/remote/index.html");
    static const QRegularExpression art(QStringLiteral("^/art/(\\d{3})\\.svg$"));
    static const QRegularExpression file(QStringLiteral("^/([A-Za-z0-9_-][A-Za-z0-9._-]*)$"));
    const QString p = QString::fromLatin1(path);
    if (const auto m = art.match(p); m.hasMatch()) {
        const int id = m.captured(1).toInt();
        return id >= kFirstArt && id <= kLastArt ? QStringLiteral(":/art/%1.svg").arg(id) : QString();
    }
    if (const auto m = file.match(p); m.hasMatch()) {
        const QString name = QStringLiteral(":/remote/") + m.captured(1);
        if (QFile::exists(name)) return name;
    }
    return {};
}

QByteArray HttpResponse(int status, const QByteArray& contentType, const QByteArray& body, bool withBody,
                        const QByteArray& cacheControl, const QByteArray& fields) {
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + StatusText(status) + "\r\n";
    if (status == 304) {
        // Only what a cached copy needs: a reload is mostly these.
        return out + "Cache-Control: " + cacheControl + "\r\n" + fields + "Connection: close\r\n\r\n";
    }
    out += "Content-Type: " + contentType + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n";
    // Nothing served here may be framed by another site or sniffed. The page's own files are cached by
    // their content, checked with the server each time (a rebound name never reaches them: the Host check).
    out += "X-Content-Type-Options: nosniff\r\nX-Frame-Options: DENY\r\nCache-Control: " + cacheControl +
           "\r\n" + fields + "Referrer-Policy: no-referrer\r\nConnection: close\r\n\r\n";
    if (withBody) out += body;
    return out;
}

}  // namespace zanth
