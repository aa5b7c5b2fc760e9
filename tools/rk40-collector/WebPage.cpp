#include "WebPage.h"

#include <QFile>
#include <QRegularExpression>

// Resources built into a static library are linked only when something
// names them: the page's files and the API's description.
static void initResources()
{
    Q_INIT_RESOURCE(web);
    Q_INIT_RESOURCE(openapi);
}

namespace collector {

namespace {

QByteArray contentType(const QString& name)
{
    if (name.endsWith(".html"))
        return "text/html; charset=utf-8";
    if (name.endsWith(".js"))
        return "text/javascript; charset=utf-8";
    if (name.endsWith(".css"))
        return "text/css; charset=utf-8";
    return "image/svg+xml";
}

} // namespace

bool WebPage::serve(const ApiRequest& request, const Responder& responder)
{
    // Plain file names only: no folders, so no way out of the page's files.
    static const bool linked = (initResources(), true);
    Q_UNUSED(linked);
    static const QRegularExpression fileName(QStringLiteral("^/([a-z0-9-]+\\.(html|js|css|svg))?$"));
    const auto match = fileName.match(request.path);
    if (request.method != "GET" || !match.hasMatch())
        return false;
    const QString name = match.captured(1).isEmpty() ? QStringLiteral("index.html") : match.captured(1);
    QFile file(QStringLiteral(":/rk40-collector/web/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    Reply r;
    r.contentType = contentType(name);
    r.body = file.readAll();
    r.headers.append({QByteArrayLiteral("Content-Security-Policy"),
                      QByteArrayLiteral("default-src 'self'; img-src 'self' data: blob:; frame-ancestors 'none'; "
                                        "base-uri 'none'; form-action 'self'")});
    r.headers.append({QByteArrayLiteral("Referrer-Policy"), QByteArrayLiteral("no-referrer")});
    responder.send(r);
    return true;
}

} // namespace collector
