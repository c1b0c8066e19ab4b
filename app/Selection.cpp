#include "app/Selection.h"

#include <QDataStream>
#include <QDir>
#include <QGuiApplication>
#include <QLocalSocket>
#include <QStandardPaths>

#include "shell/EntryCommand.h"
#include "ui/Main.h"

namespace palvex {

namespace {

constexpr quint32 kMagic = 0x50565331; // "PVS1"
constexpr int kConnectMilliseconds = 1000;
// A running program answers from its message loop, which turns at least every
// few tens of milliseconds even during a run.
constexpr int kAnswerMilliseconds = 10000;
constexpr char kTaken = 'Y';
constexpr char kRefused = 'N';

using TRuns = QList<QList<QByteArray>>;

TRuns ToWire(const std::vector<std::vector<std::string>>& runs)
{
    TRuns wire;
    for (const auto& run : runs) {
        QList<QByteArray> words;
        for (const std::string& word : run)
            words.push_back(QByteArray::fromStdString(word));
        wire.push_back(words);
    }
    return wire;
}

std::vector<std::vector<std::string>> FromWire(const TRuns& wire)
{
    std::vector<std::vector<std::string>> runs;
    for (const QList<QByteArray>& words : wire) {
        std::vector<std::string> run;
        for (const QByteArray& word : words)
            run.push_back(word.toStdString());
        // Only the usual form: "--", an absolute path, the options.
        if (run.size() >= 2 && run[0] == kEndOfOptions && !run[1].empty() && run[1][0] == '/')
            runs.push_back(std::move(run));
    }
    return runs;
}

// Reads one request from a later start and answers it.
void Answer(QLocalSocket* socket, TFormMain* main)
{
    QDataStream in(socket);
    in.startTransaction();
    quint32 magic = 0;
    TRuns runs;
    in >> magic >> runs;
    if (!in.commitTransaction())
        return; // more to come
    const bool taken = magic == kMagic && main->QueueSelection(FromWire(runs));
    socket->write(taken ? &kTaken : &kRefused, 1);
    socket->flush();
    socket->disconnectFromServer();
}

} // namespace

QString TSelectionStart::ServerName()
{
    // The runtime folder is the person's own (mode 0700); one run per display.
    QString display = qEnvironmentVariable("WAYLAND_DISPLAY", qEnvironmentVariable("DISPLAY"));
    display.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QDir(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation))
        .filePath(QStringLiteral("palvex-selection-") + QGuiApplication::platformName() + display);
}

TSelectionStart::TSelectionStart(std::vector<std::string> arguments) : m_arguments(std::move(arguments))
{
    const auto runs = EntryRuns(m_arguments);
    if (!runs)
        return; // an ordinary start; a wrong --selection is refused by the usual parsing
    m_selection = true;
    m_runs = *runs;
    if (m_runs.empty() || HandOver()) {
        m_done = true;
        return;
    }
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    const QString name = ServerName();
    if (m_server->listen(name))
        return;
    // Another start won the race to listen, or a killed program left its socket.
    if (HandOver()) {
        m_done = true;
        return;
    }
    QLocalServer::removeServer(name);
    if (!m_server->listen(name))
        m_server.reset(); // run alone
}

TSelectionStart::~TSelectionStart() = default;

std::vector<std::string> TSelectionStart::WindowArguments() const
{
    return m_selection ? std::vector<std::string>{} : m_arguments;
}

bool TSelectionStart::HandOver() const
{
    QLocalSocket socket;
    socket.connectToServer(ServerName());
    if (!socket.waitForConnected(kConnectMilliseconds))
        return false;
    QByteArray request;
    QDataStream out(&request, QIODevice::WriteOnly);
    out << kMagic << ToWire(m_runs);
    socket.write(request);
    if (!socket.waitForBytesWritten(kConnectMilliseconds))
        return false;
    while (socket.bytesAvailable() < 1)
        if (!socket.waitForReadyRead(kAnswerMilliseconds))
            return false;
    char answer = 0;
    return socket.read(&answer, 1) == 1 && answer == kTaken;
}

void TSelectionStart::Serve(TFormMain& main)
{
    if (!m_selection)
        return;
    main.QueueSelection(m_runs);
    if (!m_server)
        return;
    QObject::connect(m_server.get(), &QLocalServer::newConnection, m_server.get(), [this, &main] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, &main] { Answer(socket, &main); });
            Answer(socket, &main);
        }
    });
}

} // namespace palvex
