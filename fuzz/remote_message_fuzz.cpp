// Any bytes as a remote client's text frame, and as the head of a request to its server: the parsers must
// never crash, and what they accept must hold together (a known item, stick bytes in range, a path that
// names only what is served).
#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "model/controller_model.h"
#include "remote/http_head.h"
#include "remote/protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QString error;
    if (const auto m = zanth::ParseRemoteMessage(bytes, &error)) {
        const bool button =
            m->type == zanth::RemoteMessageType::kPress || m->type == zanth::RemoteMessageType::kRelease;
        if (button && (m->item < 0 || m->item >= zanth::kInputItemCount)) std::abort();
        for (int v : m->sticks)
            if (v < 0 || v > 255) std::abort();
    } else if (error.isEmpty()) {
        std::abort();
    }
    zanth::HttpHead head;
    if (zanth::ParseHttpHead(bytes, &head) == zanth::HeadParse::kOk) {
        const QString resource = zanth::ResourceFor(head.path);
        if (!resource.isEmpty() && !resource.startsWith(QStringLiteral(":/remote/")) &&
            !resource.startsWith(QStringLiteral(":/art/")))
            std::abort();
        (void)zanth::HostAllowed(head.Field("host"), {QStringLiteral("localhost")}, 8765);
    }
    return 0;
}
