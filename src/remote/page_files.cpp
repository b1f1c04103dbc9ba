#include "remote/page_files.h"

#include <zlib.h>

#include <QCryptographicHash>
#include <QFile>

namespace zanth {
namespace {

QByteArray ContentType(const QString& path) {
    static const std::pair<const char*, const char*> kTypes[] = {
        {".html", "text/html; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".svg", "image/svg+xml"},
        {".json", "application/json"},
        {".png", "image/png"},
        {".webmanifest", "application/manifest+json"}};
    for (const auto& [suffix, type] : kTypes)
        if (path.endsWith(QLatin1String(suffix))) return type;
    return "application/octet-stream";
}

QByteArray Gzip(const QByteArray& data) {
    z_stream z{};
    // 15 + 16: a gzip header and trailer around the deflate stream.
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK) return {};
    QByteArray out(static_cast<qsizetype>(deflateBound(&z, static_cast<uLong>(data.size()))), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int done = deflate(&z, Z_FINISH);
    out.resize(static_cast<qsizetype>(z.total_out));
    deflateEnd(&z);
    return done == Z_STREAM_END ? out : QByteArray();
}

// The ETag names the content; a weak match ("W/") after a proxy's recompression still counts.
bool Holds(const QByteArray& ifNoneMatch, const QByteArray& etag) {
    for (QByteArray tag : ifNoneMatch.split(',')) {
        tag = tag.trimmed();
        if (tag.startsWith("W/")) tag = tag.mid(2);
        if (tag == etag || tag == "*") return true;
    }
    return false;
}

}  // namespace

std::optional<PageFile> LoadPageFile(const QString& resource) {
    QFile file(resource);
    if (resource.isEmpty() || !file.open(QIODevice::ReadOnly)) return std::nullopt;
    PageFile f;
    f.type = ContentType(resource);
    f.body = file.readAll();
    f.hash = QCryptographicHash::hash(f.body, QCryptographicHash::Sha256).toHex().left(16);
    // Pictures already compressed gain nothing; text gains most.
    const QByteArray gz = f.type == "image/png" ? QByteArray() : Gzip(f.body);
    if (!gz.isEmpty() && gz.size() < f.body.size()) f.gzipped = gz;
    return f;
}

bool AcceptsGzip(const QByteArray& acceptEncoding) {
    for (const QByteArray& part : acceptEncoding.toLower().split(',')) {
        const QList<QByteArray> bits = part.split(';');
        const QByteArray name = bits.first().trimmed();
        if (name != "gzip" && name != "*") continue;
        bool refused = false;
        for (qsizetype i = 1; i < bits.size(); ++i) {
            const QByteArray p = bits[i].trimmed();
            if (p.startsWith("q=") && p.mid(2).toDouble() <= 0.0) refused = true;
        }
        if (!refused) return true;
    }
    return false;
}

QByteArray PageAnswer(const PageFile& file, const HttpHead& head) {
    const QByteArray etag = '"' + file.hash + '"';
    const bool named = head.query == "v=" + file.hash;
    const QByteArray cache = named ? "public, max-age=31536000, immutable" : "no-cache";
    const bool gzip = !file.gzipped.isEmpty() && AcceptsGzip(head.Field("accept-encoding"));
    QByteArray fields = "ETag: " + etag + "\r\n";
    if (!file.gzipped.isEmpty()) fields += "Vary: Accept-Encoding\r\n";
    if (Holds(head.Field("if-none-match"), etag)) return HttpResponse(304, {}, {}, false, cache, fields);
    if (gzip) fields += "Content-Encoding: gzip\r\n";
    return HttpResponse(200, file.type, gzip ? file.gzipped : file.body, head.method != "HEAD", cache,
                        fields);
}

const PageFile* PageFiles::Get(const QString& resource) {
    auto it = files_.find(resource);
    if (it == files_.end()) it = files_.emplace(resource, LoadPageFile(resource)).first;
    return it->second ? &*it->second : nullptr;
}

}  // namespace zanth
