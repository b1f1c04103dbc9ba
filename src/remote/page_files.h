#pragma once
// The page's files as served: each read once, named by a hash of its content (its ETag) and gzipped once,
// so that a phone loads the page once and a reload costs a few short "not modified" answers.
#include <QByteArray>
#include <QString>
#include <map>
#include <optional>

#include "remote/http_head.h"

namespace zanth {

struct PageFile {
    QByteArray type;
    QByteArray body;
    QByteArray gzipped;  // empty when gzip would not make it smaller
    QByteArray hash;     // 16 hex digits of its content's SHA-256
};

// `resource` as ResourceFor names it; none when it cannot be read.
std::optional<PageFile> LoadPageFile(const QString& resource);
// The whole answer to `head` for `file`: 304 when the browser holds this very content, gzip when it takes
// it, held for a year without asking again when the URL itself names the content ("?v=HASH").
QByteArray PageAnswer(const PageFile& file, const HttpHead& head);
// Whether an Accept-Encoding field takes gzip (and does not refuse it with q=0).
bool AcceptsGzip(const QByteArray& acceptEncoding);

// The files already loaded, by resource; one per host, on its thread.
class PageFiles {
  public:
    const PageFile* Get(const QString& resource);

  private:
    std::map<QString, std::optional<PageFile>> files_;
};

}  // namespace zanth
