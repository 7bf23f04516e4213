// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// A small session service manager for tests and the demo: loads the plugin,
// starts and stops it through its two entry functions, and takes commands, one
// per line, on standard input:
//   register [CONNECTION]  call NSMRegister with that connection name (or
//                          null; "" for an empty one)
//   restart [CONNECTION]   NSMUnRegister, then NSMRegister, in one go
//   unregister             call NSMUnRegister
//   status                 print whether the daemon object is exported, what
//                          "View" translates to, and the connection's unique name
//   unload                 unload the library (dlclose); later register and
//                          unregister commands are refused
//   getenv NAME            print the host's value of an environment variable
//   fds                    print how many file descriptors the host has open
//   open CONNECTION        open a session-bus connection of that name, as a
//                          manager sharing its own connection would
//   connected CONNECTION   print whether a connection of that name is open
//   watch SCHEMA           count the host's own change notices of a schema
//   changes                print that count
//   quit                   leave (calling NSMUnRegister first, unless unloaded)
// Options: --occupy CONNECTION  put a foreign object at the daemon's path on
//                               that connection before anything else.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QLibrary>
#include <QSocketNotifier>
#include <QStringList>
#include <QVector>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <unistd.h>
#include <utility>

#include <gio/gio.h>

namespace {

using RegisterFunction = int (*)(const char *, void *);
using UnRegisterFunction = int (*)();

const QString kObjectPath = QStringLiteral("/com/orvane/appstore/daemon");

void say(const QString &line)
{
    std::fprintf(stdout, "%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

int openDescriptors()
{
    DIR *dir = ::opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.' && std::atoi(entry->d_name) != ::dirfd(dir))
            ++count;
    }
    ::closedir(dir);
    return count;
}

void countChange(GSettings *, const char *, gpointer counter)
{
    ++*static_cast<int *>(counter);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);

    QObject occupant;
    const int occupy = args.indexOf(QStringLiteral("--occupy"));
    if (occupy >= 0 && occupy + 1 < args.size()) {
        const QString connection = args.at(occupy + 1);
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, connection)
            .registerObject(kObjectPath, &occupant, QDBusConnection::ExportAllSlots);
        args.erase(args.begin() + occupy, args.begin() + occupy + 2);
    }
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: appstore-plugin-host [--occupy CONNECTION] PLUGIN\n");
        return 2;
    }

    QLibrary library(args.first());
    if (!library.load()) {
        std::fprintf(stderr, "cannot load %s\n", library.errorString().toUtf8().constData());
        return 1;
    }
    auto nsmRegister = reinterpret_cast<RegisterFunction>(library.resolve("NSMRegister"));
    auto nsmUnRegister = reinterpret_cast<UnRegisterFunction>(library.resolve("NSMUnRegister"));
    if (!nsmRegister || !nsmUnRegister) {
        std::fprintf(stderr, "entry functions missing in %s\n", qPrintable(args.first()));
        return 1;
    }

    QString lastConnection;
    // The host's own settings objects, on the same backend as the plugin's: a
    // change counted here has reached every settings object of the process.
    int changes = 0;
    QVector<GSettings *> watched;
    const auto registerWith = [&](const QString &argument) {
        // A quoted argument is passed verbatim: "" is an empty, non-null name.
        const bool quoted = argument.size() >= 2 && argument.startsWith(QLatin1Char('"'))
            && argument.endsWith(QLatin1Char('"'));
        lastConnection = quoted ? argument.mid(1, argument.size() - 2) : argument;
        const QByteArray name = lastConnection.toUtf8();
        return nsmRegister(quoted || !name.isEmpty() ? name.constData() : nullptr, nullptr);
    };
    const auto handle = [&](const QString &line) {
        const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const QString command = words.value(0);
        const QString argument = line.trimmed().mid(command.size()).trimmed();
        const bool entryCommand = command == QLatin1String("register") || command == QLatin1String("restart")
            || command == QLatin1String("unregister");
        if (entryCommand && !nsmRegister) {
            say(QStringLiteral("unloaded %1").arg(command));
        } else if (command == QLatin1String("register")) {
            say(QStringLiteral("NSMRegister %1").arg(registerWith(argument)));
        } else if (command == QLatin1String("restart")) {
            // Stop and start within one pass of the loop, as a manager restarting the plugin would.
            const int stopped = nsmUnRegister();
            say(QStringLiteral("NSMUnRegister %1 NSMRegister %2").arg(stopped).arg(registerWith(argument)));
        } else if (command == QLatin1String("unregister")) {
            say(QStringLiteral("NSMUnRegister %1").arg(nsmUnRegister()));
        } else if (command == QLatin1String("status")) {
            // Looked up, never opened: the host must not keep a connection
            // alive that the plugin has closed.
            const QDBusConnection bus = lastConnection.trimmed().isEmpty() ? QDBusConnection::sessionBus()
                                                                           : QDBusConnection(lastConnection.trimmed());
            say(QStringLiteral("exported %1").arg(QLatin1String(bus.objectRegisteredAt(kObjectPath) ? "yes" : "no")));
            say(QStringLiteral("View %1").arg(QCoreApplication::translate("QObject", "View")));
            say(QStringLiteral("connection %1").arg(bus.baseService()));
        } else if (command == QLatin1String("unload")) {
            nsmRegister = nullptr;
            nsmUnRegister = nullptr;
            say(QStringLiteral("unloaded %1").arg(QLatin1String(library.unload() ? "yes" : "no")));
        } else if (command == QLatin1String("getenv")) {
            const char *value = std::getenv(argument.toUtf8().constData());
            say(value ? QStringLiteral("env set %1").arg(QString::fromUtf8(value)) : QStringLiteral("env unset"));
        } else if (command == QLatin1String("fds")) {
            say(QStringLiteral("fds %1").arg(openDescriptors()));
        } else if (command == QLatin1String("open")) {
            say(QStringLiteral("open %1").arg(
                QDBusConnection::connectToBus(QDBusConnection::SessionBus, argument).baseService()));
        } else if (command == QLatin1String("connected")) {
            say(QStringLiteral("connected %1")
                    .arg(QLatin1String(QDBusConnection(argument).isConnected() ? "yes" : "no")));
        } else if (command == QLatin1String("watch")) {
            GSettingsSchemaSource *source = g_settings_schema_source_get_default();
            GSettingsSchema *schema = source
                ? g_settings_schema_source_lookup(source, argument.toUtf8().constData(), TRUE)
                : nullptr;
            if (schema) {
                GSettings *settings = g_settings_new_full(schema, nullptr, nullptr);
                g_settings_schema_unref(schema);
                g_signal_connect(settings, "changed", G_CALLBACK(countChange), &changes);
                watched.append(settings);
            }
            say(QStringLiteral("watch %1").arg(QLatin1String(schema ? "yes" : "no")));
        } else if (command == QLatin1String("changes")) {
            say(QStringLiteral("changes %1").arg(changes));
        } else if (command == QLatin1String("quit")) {
            QCoreApplication::quit();
        } else if (!command.isEmpty()) {
            say(QStringLiteral("unknown %1").arg(command));
        }
    };

    // Read raw: a buffered reader would keep a second line that arrived with
    // the first, and the notifier would never fire for it.
    QByteArray pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char chunk[4096];
        const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            return;
        if (got <= 0) { // end of input
            input.setEnabled(false);
            QCoreApplication::quit();
            return;
        }
        pending.append(chunk, static_cast<int>(got));
        for (int end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            const QString line = QString::fromUtf8(pending.left(end));
            pending.remove(0, end + 1);
            handle(line);
        }
    });

    const int rc = app.exec();
    if (nsmUnRegister)
        nsmUnRegister();
    for (GSettings *settings : std::as_const(watched))
        g_object_unref(settings);
    return rc;
}
