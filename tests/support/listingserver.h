#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QTcpServer>

class QTcpSocket;

// A download server on 127.0.0.1 (port chosen by the system) serving
// autoindex-style folder listings and files, and misbehaving on request: 404,
// 302, a body cut short, no Content-Length, no answer at all. It runs on the
// thread that made it; the client's nested event loops serve it.
class ListingServer : public QObject {
    Q_OBJECT
public:
    struct Entry {
        QString name;   // a folder's name ends with "/"
        qint64 size = 0;
    };

    ListingServer();
    // On the given loopback address and port (0: chosen by the system).
    ListingServer(const QHostAddress& address, quint16 port);
    bool isListening() const { return m_server.isListening(); }
    ~ListingServer() override;

    quint16 port() const { return serverPort(); }
    quint16 serverPort() const;
    // "http://<address>:<port>" followed by path.
    QString url(const QString& path) const;

    // A listing page at path (which ends with "/"), rows in the given order.
    void listing(const QString& path, const QList<Entry>& entries);
    // Any page content at path.
    void page(const QString& path, const QByteArray& html);
    void file(const QString& path, const QByteArray& content);
    void redirect(const QString& path, const QString& location);
    // Announces declaredLength bytes, sends content and closes.
    void cutBody(const QString& path, const QByteArray& content, qint64 declaredLength);
    // Sends content without Content-Length and closes.
    void withoutLength(const QString& path, const QByteArray& content);
    // Reads the request and never answers.
    void stall(const QString& path);

    // Requests per path, and in all.
    int requests(const QString& path) const { return m_counts.value(path); }
    int requests() const { return m_total; }

private:
    enum Kind { Page, Redirect, Cut, NoLength, Stall };
    struct Route {
        Kind kind = Page;
        QByteArray body;
        qint64 declared = 0;
        QString location;
    };
    void serve(QTcpSocket* socket);

    QTcpServer m_server;
    QHash<QString, Route> m_routes;
    QHash<QString, int> m_counts;
    QHash<QTcpSocket*, QByteArray> m_pending;
    int m_total = 0;
};
