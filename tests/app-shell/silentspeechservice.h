#pragma once

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

// A speech service that answers a client's greeting as speech-dispatcher does (one output module,
// one voice) and, once handed a text to speak, never answers anyone again, its connections held
// open: a service whose sound output hangs.
class SilentSpeechService : public QObject {
public:
    bool listen(const QString& path)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        connect(&m_server, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket* socket = m_server.nextPendingConnection()) {
                ++m_connections;
                connect(socket, &QLocalSocket::readyRead, this, [this, socket] { answer(socket); });
            }
        });
        return m_server.listen(path);
    }
    bool silent() const { return m_silent; }
    int connections() const { return m_connections; }

private:
    void answer(QLocalSocket* socket)
    {
        while (socket->canReadLine()) {
            const QByteArray command = socket->readLine().trimmed().toUpper();
            if (m_silent)
                continue;
            if (command.startsWith("SPEAK") || command.startsWith("CHAR") || command.startsWith("KEY")) {
                m_silent = true;
                continue;
            }
            if (command.startsWith("LIST OUTPUT_MODULES"))
                socket->write("250-quiet\r\n250 OK MODULE LIST SENT\r\n");
            else if (command.startsWith("LIST SYNTHESIS_VOICES"))
                socket->write("249-Quiet\ten\tnone\r\n249 OK VOICE LIST SENT\r\n");
            else if (command.startsWith("GET "))
                socket->write("251-0\r\n251 OK GET RETURNED\r\n");
            else if (command == "QUIT")
                socket->write("231 HAPPY HACKING\r\n");
            else
                socket->write("200 OK\r\n");
        }
    }

    QLocalServer m_server;
    bool m_silent = false;
    int m_connections = 0;
};
