#include "listingserver.h"

#include <QTcpSocket>

ListingServer::ListingServer()
    : ListingServer(QHostAddress::LocalHost, 0)
{
}

ListingServer::ListingServer(const QHostAddress& address, quint16 port)
{
    m_server.listen(address, port);
    connect(&m_server, &QTcpServer::newConnection, this, [this]() {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket]() { serve(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

ListingServer::~ListingServer() = default;

quint16 ListingServer::serverPort() const
{
    return m_server.serverPort();
}

QString ListingServer::url(const QString& path) const
{
    return QStringLiteral("http://%1:%2%3").arg(m_server.serverAddress().toString()).arg(serverPort()).arg(path);
}

void ListingServer::listing(const QString& path, const QList<Entry>& entries)
{
    // The layout of a common web server's automatic index: link, blanks,
    // date, size, rows ended by CRLF, between two rules.
    QByteArray html = "<html>\r\n<head><title>Index of " + path.toUtf8() + "</title></head>\r\n<body>\r\n<h1>Index of "
                      + path.toUtf8() + "</h1><hr><pre><a href=\"../\">../</a>\r\n";
    for (const Entry& entry : entries) {
        const QByteArray name = entry.name.toUtf8();
        const QByteArray size = entry.name.endsWith(QLatin1Char('/')) ? "-" : QByteArray::number(entry.size);
        html += "<a href=\"" + name + "\">" + name + "</a>" + QByteArray(qMax(1, 51 - name.size()), ' ')
                + "05-Mar-2024 14:07" + QByteArray(qMax(1, 20 - size.size()), ' ') + size + "\r\n";
    }
    html += "</pre><hr></body>\r\n</html>\r\n";
    page(path, html);
}

void ListingServer::page(const QString& path, const QByteArray& html)
{
    Route route;
    route.body = html;
    m_routes.insert(path, route);
}

void ListingServer::file(const QString& path, const QByteArray& content)
{
    page(path, content);
}

void ListingServer::redirect(const QString& path, const QString& location)
{
    Route route;
    route.kind = Redirect;
    route.location = location;
    route.body = "<html><body>moved</body></html>";
    m_routes.insert(path, route);
}

void ListingServer::cutBody(const QString& path, const QByteArray& content, qint64 declaredLength)
{
    Route route;
    route.kind = Cut;
    route.body = content;
    route.declared = declaredLength;
    m_routes.insert(path, route);
}

void ListingServer::withoutLength(const QString& path, const QByteArray& content)
{
    Route route;
    route.kind = NoLength;
    route.body = content;
    m_routes.insert(path, route);
}

void ListingServer::stall(const QString& path)
{
    Route route;
    route.kind = Stall;
    m_routes.insert(path, route);
}

void ListingServer::serve(QTcpSocket* socket)
{
    QByteArray& pending = m_pending[socket];
    pending += socket->readAll();
    const int end = pending.indexOf("\r\n\r\n");
    if (end < 0) {
        return;
    }
    const QByteArray requestLine = pending.left(pending.indexOf("\r\n"));
    m_pending.remove(socket);
    const QList<QByteArray> words = requestLine.split(' ');
    const QString path = words.size() > 1 ? QString::fromUtf8(words.at(1)) : QString();
    ++m_total;
    ++m_counts[path];

    if (!m_routes.contains(path)) {
        const QByteArray body = "<html><body>404 Not Found</body></html>";
        socket->write("HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: "
                      + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
        return;
    }
    const Route& route = m_routes[path];
    switch (route.kind) {
    case Page:
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: "
                      + QByteArray::number(route.body.size()) + "\r\nConnection: close\r\n\r\n" + route.body);
        break;
    case Redirect:
        socket->write("HTTP/1.1 302 Found\r\nLocation: " + route.location.toUtf8() + "\r\nContent-Length: "
                      + QByteArray::number(route.body.size()) + "\r\nConnection: close\r\n\r\n" + route.body);
        break;
    case Cut:
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(route.declared)
                      + "\r\nConnection: close\r\n\r\n" + route.body);
        break;
    case NoLength:
        socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + route.body);
        break;
    case Stall:
        return;
    }
    socket->disconnectFromHost();
}
