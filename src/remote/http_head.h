#pragma once
// The little HTTP the remote-control server speaks: the head of a GET request, which file it names, and
// whether its Host and Origin are the server's own (a page of another site, or a name rebound to this
// machine, must not reach the API).
#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

namespace zanth {

inline constexpr int kHttpHeadLimit = 8192;

struct HttpHead {
    QByteArray method;
    QByteArray path;                      // without the query
    QByteArray query;                     // after the "?", if any
    QMap<QByteArray, QByteArray> fields;  // names in lower case
    QByteArray Field(const char* name) const { return fields.value(QByteArray(name)); }
};

enum class HeadParse { kIncomplete, kBad, kOk };
// Reads the head at the start of `data` (up to the blank line). kBad: not HTTP/1.x, or longer than the limit.
HeadParse ParseHttpHead(const QByteArray& data, HttpHead* head);

// `host` (a Host header) names one of `names` (lower case: "localhost", "127.0.0.1", "[::1]", the machine's
// addresses in LAN mode) with the server's port.
bool HostAllowed(const QByteArray& host, const QStringList& names, quint16 port);
// A browser's Origin must be the server's own: "http://" and the Host it asked. No Origin: not a browser.
bool OriginAllowed(const QByteArray& origin, bool present, const QByteArray& host);

// The resource a path names: "/" the page, "/<name>" a file of the page, "/art/<id>.svg" the program's
// artwork; empty when it names nothing that is served.
QString ResourceFor(const QByteArray& path);

// A whole response with a body of its own. `fields`: more header lines, each ending in CRLF.
QByteArray HttpResponse(int status, const QByteArray& contentType, const QByteArray& body,
                        bool withBody = true, const QByteArray& cacheControl = "no-store",
                        const QByteArray& fields = {});

}  // namespace zanth
